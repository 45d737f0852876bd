// Bytes through a port on a pseudo-terminal, with the main-thread hand-over of every notification.
#include "pty_fixture.h"

using namespace serial;

namespace {

class CommData : public PtyTest {};

TEST_F(CommData, BytesTravelBothWaysAndOnRxCharCountsWaitingBytes) {
    std::vector<int> counts;
    std::string received;
    port->OnRxChar = [&](TVaCustomComm* sender, int count) {
        EXPECT_EQ(sender, port.get());
        counts.push_back(count);
        received += port->ReadText();
    };
    port->Open();
    ASSERT_TRUE(port->Active());

    EXPECT_TRUE(port->WriteText(" geto 1\r"));
    EXPECT_EQ(PeerRead(8), " geto 1\r");

    PeerWrite("OK\r\n#");
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 5; }));
    EXPECT_EQ(received, "OK\r\n#");
    ASSERT_FALSE(counts.empty());
    EXPECT_GE(counts.front(), 1);
    EXPECT_EQ(port->ReadText(), "");
}

} // namespace
