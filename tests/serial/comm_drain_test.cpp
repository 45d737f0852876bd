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

    // Drains as a transfer thread does, while this (main) thread runs the port's notifications.
    bool Drain() {
        std::atomic<int> result{-1};
        std::thread worker([&] { result = port->Drain() ? 1 : 0; });
        const bool ended = PumpUntil([&] { return result.load() >= 0; }, 30000);
        worker.join();
        EXPECT_TRUE(ended);
        return result.load() == 1;
    }
};

TEST_F(CommDrain, QueuedBytesAreOnTheLineWhenDrainReturnsAndSurviveAnImmediateClose) {
    port->Open();
    const std::string block(1500, 'x');
    ASSERT_TRUE(port->WriteText(block));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(port->WriteBufUsed(), 0);
    EXPECT_EQ(PeerTakeAll(), block);

    // The end of a transfer: the last ACK, then the port closes.
    ASSERT_TRUE(port->WriteChar('\x06'));
    ASSERT_TRUE(Drain());
    port->Close();
    EXPECT_EQ(PeerTakeAll(), "\x06");

    EXPECT_FALSE(Drain()); // closed: nothing goes anywhere
    EXPECT_TRUE(exceptions.empty());
}

TEST_F(CommDrain, DirectWritesAreDrainedToo) {
    port->SetDirectWrite(true);
    port->Open();
    ASSERT_EQ(port->WriteBuf("abc", 3), 3);
    ASSERT_TRUE(Drain());
    EXPECT_EQ(PeerTakeAll(), "abc");
}

TEST_F(CommDrain, AStalledLineEndsTheWaitAndTheBytesStillGoOnceItMoves) {
    port->Open();
    // Output held as by an XOFF from the peer: the driver takes nothing more.
    port->SetXon(false);
    ASSERT_TRUE(port->WriteText("end"));
    EXPECT_FALSE(Drain());
    EXPECT_EQ(port->WriteBufUsed(), 3);

    // The line moves again: the queue goes out, and a drain now succeeds.
    port->SetXon(true);
    EXPECT_EQ(PeerRead(3), "end");
    EXPECT_TRUE(Drain());
    EXPECT_TRUE(exceptions.empty());
}

class CommPurge : public PtyTest {};

// Bytes written just before a read purge belong to the line, not to the received bytes the purge drops. The
// race is between the write thread and the purge, so it is run many times.
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
    EXPECT_EQ(PeerRead(expected.size()), expected);

    // As a transfer thread writes and purges, with the main thread running the port's notices meanwhile.
    std::string fromThread;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        rounds(fromThread);
        done = true;
    });
    std::string got;
    PumpUntil([&] {
        got += PeerRead(0, 0);
        return done.load();
    }, 30000);
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
