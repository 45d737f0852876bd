// The terminal is reached from the main window although its button stays hidden.
#include "app/main_window.h"
#include "app/terminal_window.h"
#include "link/device_link.h"
#include "serial/comm.h"
#include "tests/app/ui_helpers.h"

#include <QAction>
#include <QDialog>
#include <gtest/gtest.h>

using namespace zirezid;

TEST(TerminalFromMainWindow, TheShortcutShowsTheTerminalModallyOnTheLinkPortAndClosingClosesIt) {
    test::TestEnvironment env;
    Tfrm_main window;
    window.show();
    EXPECT_FALSE(window.bt_Terminal->isVisible());
    QAction* shortcut = window.findChild<QAction*>(QStringLiteral("mn_ServiceTerminal"));
    ASSERT_NE(shortcut, nullptr);
    EXPECT_EQ(shortcut->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    auto* terminal = window.findChild<Tfrm_terminal*>(QStringLiteral("frm_terminal"));
    ASSERT_NE(terminal, nullptr);
    ASSERT_NE(window.frm_read->link(), nullptr);

    bool shownModal = false;
    serial::TVaComm* port = nullptr;
    test::ModalScript script;
    script.then([&](QDialog* d) {
        shownModal = d == terminal && d->isModal();
        port = terminal->port();
        d->reject();
    });
    shortcut->trigger();
    EXPECT_TRUE(shownModal);
    EXPECT_EQ(script.unexpected(), 0);
    EXPECT_EQ(port, window.frm_read->link()->VaComm1.get());
    ASSERT_NE(port, nullptr);
    EXPECT_FALSE(port->Active());
    window.shellState = Tfrm_main::stSaved;
}
