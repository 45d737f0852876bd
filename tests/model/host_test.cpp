#include "model/host.h"

#include "fake_host.h"

#include <gtest/gtest.h>

namespace {

TEST(Host, InstalledHostServesUntilRemoved) {
    host::Host& before = host::current();
    {
        fake::Host ui;
        EXPECT_EQ(&host::current(), &ui);
        host::current().showMessage("one");
        host::current().processEvents();
        host::current().applyShellState(host::stModified);
        EXPECT_EQ(ui.messages, std::vector<std::string>{"one"});
        EXPECT_EQ(ui.eventRounds, 1);
        EXPECT_EQ(ui.shellStates, std::vector<int>{1});
        {
            fake::Host inner;
            host::current().showMessage("two");
            EXPECT_EQ(inner.messages.size(), 1u);
        }
        EXPECT_EQ(&host::current(), &ui) << "the outer host is back";
        EXPECT_EQ(ui.messages.size(), 1u);
    }
    EXPECT_EQ(&host::current(), &before);
    // The default host has no windows to offer and takes messages quietly.
    EXPECT_EQ(host::current().emptyEditorFrame(), nullptr);
    EXPECT_EQ(host::current().dialStringEditor(), nullptr);
}

} // namespace
