// Waiting for written bytes to reach the line, and purges that must leave written bytes alone, on a
// pseudo-terminal.
#include "pty_fixture.h"

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <thread>

using namespace serial;

namespace {

class CommDrain : public PtyTest {
protected:
    // What the master holds right now, without processing events: only bytes already on the line count.
    std::string PeerTakeAll() {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
};

TEST_F(CommDrain, QueuedBytesAreOnTheLineWhenDrainReturnsAndSurviveAnImmediateClose) {
    port->Open();
    const std::string block(1500, 'x');
    ASSERT_TRUE(port->WriteText(block));
    ASSERT_TRUE(port->Drain());
    EXPECT_EQ(port->WriteBufUsed(), 0);
    EXPECT_EQ(PeerTakeAll(), block);

    // The end of a transfer: the last ACK, then the port closes. Nothing runs the port's notices in between
    // (the notice of the queue emptied above is still waiting): the write thread must not wait for them.
    ASSERT_TRUE(port->WriteChar('\x06'));
    ASSERT_TRUE(port->Drain());
    port->Close();
    EXPECT_EQ(PeerTakeAll(), "\x06");

    EXPECT_FALSE(port->Drain()); // closed: nothing goes anywhere
    EXPECT_TRUE(exceptions.empty());
}

TEST_F(CommDrain, DirectWritesAreDrainedToo) {
    port->SetDirectWrite(true);
    port->Open();
    ASSERT_EQ(port->WriteBuf("abc", 3), 3);
    ASSERT_TRUE(port->Drain());
    EXPECT_EQ(PeerTakeAll(), "abc");
}

TEST_F(CommDrain, AStalledLineEndsTheWaitAndTheBytesStillGoOnceItMoves) {
    port->Open();
    // Output held as by an XOFF from the peer: the driver takes nothing more.
    port->SetXon(false);
    ASSERT_TRUE(port->WriteText("end"));
    EXPECT_FALSE(port->Drain());
    EXPECT_EQ(port->WriteBufUsed(), 3);

    // The line moves again: the queue goes out, and a drain now succeeds.
    port->SetXon(true);
    EXPECT_EQ(PeerRead(3), "end");
    EXPECT_TRUE(port->Drain());
    EXPECT_TRUE(exceptions.empty());
}

class CommPurge : public PtyTest {
protected:
    // Reads from the master without running the port's notices, as a caller busy elsewhere leaves them.
    std::string PeerReadWithoutEvents(std::size_t Count) {
        std::string got;
        char buf[4096];
        pollfd fd{master, POLLIN, 0};
        while (got.size() < Count && poll(&fd, 1, 5000) > 0) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
};

// Bytes written just before a read purge belong to the line, not to the received bytes the purge drops; and
// they go out while the main thread does not run the port's notices (the second of two writes once waited
// behind the transmit-empty notice of the first). Races, so run many times.
TEST_F(CommPurge, AReadPurgeRightAfterWritesKeepsEveryWrittenByte) {
    port->Open();
    auto rounds = [&](std::string& Expected) {
        for (int round = 0; round < 300; ++round) {
            const char first = static_cast<char>('A' + round % 26);
            const char second = static_cast<char>('a' + round % 26);
            ASSERT_TRUE(port->WriteChar(first));
            ASSERT_TRUE(port->WriteChar(second));
            port->PurgeRead();
            Expected += first;
            Expected += second;
        }
    };
    std::string expected;
    rounds(expected);
    EXPECT_EQ(PeerReadWithoutEvents(expected.size()), expected);

    // As a transfer thread writes and purges, with the main thread running the port's notices meanwhile.
    std::string fromThread;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        rounds(fromThread);
        done = true;
    });
    std::string got;
    PumpUntil(
        [&] {
            got += PeerRead(0, 0);
            return done.load();
        },
        30000);
    worker.join();
    got += PeerRead(fromThread.size() - std::min(got.size(), fromThread.size()));
    EXPECT_EQ(got, fromThread);
    EXPECT_TRUE(exceptions.empty());
}

TEST_F(CommPurge, AReadPurgeWithThePeerTalkingKeepsWrittenBytesAndDropsReceivedOnes) {
    port->Open();
    std::string expected;
    for (int round = 0; round < 100; ++round) {
        PeerWrite("noise");
        ASSERT_TRUE(port->WriteChar('\x18'));
        ASSERT_TRUE(port->WriteChar('\x18'));
        port->PurgeRead();
        expected += "\x18\x18";
    }
    EXPECT_EQ(PeerRead(expected.size()), expected);
    EXPECT_EQ(port->ReadText(), "");
}

} // namespace
