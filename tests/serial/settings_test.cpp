// Change notices and defaults of the three port settings objects.
#include <gtest/gtest.h>

#include <stdexcept>

#include "serial/port_settings.h"

using namespace serial;

namespace {

template <class T> struct Counted {
    T object;
    int notices = 0;
    Counted() {
        object.OnChange = [this](TVaPersistent* sender) {
            EXPECT_EQ(sender, &object);
            ++notices;
        };
    }
};

TEST(PortSettings, DefaultsAreTheDocumentedOnes) {
    TVaBuffers b;
    EXPECT_EQ(b.ReadSize(), 4096);
    EXPECT_EQ(b.WriteSize(), 2048);
    EXPECT_EQ(b.ReadTimeout(), 1000);
    EXPECT_EQ(b.WriteTimeout(), 1000);
    EXPECT_EQ(b.XonLimit(), 1024);
    EXPECT_EQ(b.XoffLimit(), 1024);

    TVaEventChars c;
    EXPECT_EQ(c.XonChar(), 17);
    EXPECT_EQ(c.XoffChar(), 19);
    EXPECT_EQ(c.ErrorChar(), 0);
    EXPECT_EQ(c.EventChar(), 0);
    EXPECT_EQ(c.EofChar(), 0);

    TVaFlowControl f;
    EXPECT_FALSE(f.OutCtsFlow() || f.OutDsrFlow() || f.XonXoffOut() || f.XonXoffIn() || f.DsrSensitivity() ||
                 f.TxContinueOnXoff());
    EXPECT_EQ(f.ControlDtr(), dtrDisabled);
    EXPECT_EQ(f.ControlRts(), rtsDisabled);
    EXPECT_EQ(DtrControlBits(dtrHandshake), 0x20u);
    EXPECT_EQ(RtsControlBits(rtsToggle), 0x3000u);
}

TEST(PortSettings, BuffersNotifyOnRealChangesAndNeverForTimeouts) {
    Counted<TVaBuffers> b;
    b.object.SetXonLimit(1024); // same value
    EXPECT_EQ(b.notices, 0);
    b.object.SetXonLimit(512);
    EXPECT_EQ(b.notices, 1);
    b.object.SetReadTimeout(5);
    b.object.SetWriteTimeout(7);
    EXPECT_EQ(b.notices, 1);
    EXPECT_EQ(b.object.ReadTimeout(), 5);
    EXPECT_EQ(b.object.WriteTimeout(), 7);
    EXPECT_THROW(b.object.SetReadSize(-1), std::out_of_range);
    EXPECT_EQ(b.object.ReadSize(), 4096);
}

TEST(PortSettings, EventCharsNotifyOnEverySetAndKeepEofAndEventApart) {
    Counted<TVaEventChars> c;
    c.object.SetXonChar(17); // same value still notifies
    EXPECT_EQ(c.notices, 1);
    c.object.SetEventChar(4, 'E');
    c.object.SetEventChar(5, 'Z');
    EXPECT_EQ(c.object.EventChar(), 'E');
    EXPECT_EQ(c.object.EofChar(), 'Z');
    EXPECT_EQ(c.notices, 3);
    c.object.SetEventChar(6, 'x'); // no such character
    EXPECT_EQ(c.notices, 3);
}

TEST(PortSettings, AssignGivesOneNoticeAndCopiesEverything) {
    TVaFlowControl other;
    other.SetOutCtsFlow(true);
    other.SetOutDsrFlow(true);
    other.SetControlDtr(dtrEnabled);
    other.SetControlRts(rtsHandshake);
    other.SetXonXoffOut(true);
    other.SetXonXoffIn(true);
    other.SetDsrSensitivity(true);
    other.SetTxContinueOnXoff(true);
    Counted<TVaFlowControl> f;
    f.object.Assign(other);
    EXPECT_EQ(f.notices, 1);
    EXPECT_TRUE(f.object.OutDsrFlow() && f.object.TxContinueOnXoff() && f.object.XonXoffIn());
    EXPECT_EQ(f.object.ControlRts(), rtsHandshake);

    Counted<TVaBuffers> b;
    TVaBuffers src;
    src.SetReadSize(8096);
    src.SetWriteTimeout(2000);
    b.object.Assign(src);
    EXPECT_EQ(b.notices, 1);
    EXPECT_EQ(b.object.ReadSize(), 8096);
    EXPECT_EQ(b.object.WriteTimeout(), 2000);

    Counted<TVaEventChars> c;
    TVaEventChars chars;
    c.object.Assign(chars);
    EXPECT_EQ(c.notices, 1);
}

TEST(PortSettings, UpdateBracketsCollapseNoticesAndForeignAssignIsRefused) {
    Counted<TVaFlowControl> f;
    f.object.BeginUpdate();
    f.object.BeginUpdate();
    f.object.SetXonXoffOut(true);
    f.object.SetXonXoffIn(true);
    f.object.EndUpdate();
    EXPECT_EQ(f.notices, 0); // still inside the outer bracket
    f.object.EndUpdate();
    EXPECT_EQ(f.notices, 1);
    f.object.EndUpdate(); // unbalanced: the counter stays at 0 and the notice still comes
    EXPECT_EQ(f.notices, 2);

    TVaBuffers b;
    try {
        f.object.Assign(b);
        FAIL() << "assigning buffers to flow control must fail";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TVaBuffers to a TVaFlowControl");
    }
}

} // namespace
