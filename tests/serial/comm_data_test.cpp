// Bytes through a port on a pseudo-terminal, with the main-thread hand-over of every notification.
#include "pty_fixture.h"

#include <atomic>
#include <thread>

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

namespace {

class Client : public TVaCommComponent {
public:
    void DataChanged(PVaData Data, int Count) override { data.append(reinterpret_cast<const char*>(Data), Count); }
    void LineChanged(std::uint32_t EvtMask) override { lines.push_back(EvtMask); }
    std::string data;
    std::vector<std::uint32_t> lines;
};

class CommEvents : public PtyTest {
protected:
    // Stops the port's output with XOFF from the peer; the marker behind it shows the XOFF has been taken.
    void StallOutput() {
        port->FlowControl().SetXonXoffOut(true);
        std::string got;
        port->OnRxChar = [&](TVaCustomComm*, int) { got += port->ReadText(); };
        PeerWrite("\x13M");
        ASSERT_TRUE(PumpUntil([&] { return got == "M"; }));
        port->OnRxChar = nullptr;
    }
    void ResumeOutput() { PeerWrite("\x11"); }
};

TEST_F(CommEvents, UnreadBytesAreNotHandedOverAgainUntilNewOnesArrive) {
    std::vector<int> counts;
    port->OnRxChar = [&](TVaCustomComm*, int count) { counts.push_back(count); };
    port->Open();
    PeerWrite("abc");
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    PumpFor(100);
    EXPECT_EQ(counts.size(), 1u) << "the event thread handed the same bytes over again";
    EXPECT_EQ(counts.back(), 3);
    PeerWrite("de");
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts.back(), 5); // old and new bytes together
    EXPECT_EQ(port->ReadBufUsed(), 5);
    EXPECT_EQ(port->ReadBufFree(), port->Buffers().ReadSize() - 5);
    EXPECT_EQ(port->ReadText(), "abcde");
    PumpFor(50);
    EXPECT_EQ(counts.size(), 2u);
}

TEST_F(CommEvents, ClientsTakeTheBytesAndOnRxCharReturnsWhenTheyDetach) {
    int rxChar = 0;
    std::string rxBuf;
    port->OnRxChar = [&](TVaCustomComm*, int) { ++rxChar; };
    port->OnRxBuf = [&](TVaCustomComm*, const std::uint8_t* data, int count) {
        rxBuf.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    };
    Client first, second;
    first.SetComm(port.get());
    second.SetComm(port.get());
    EXPECT_EQ(port->ClientCount(), 2);
    port->Open();
    PeerWrite("screen");
    ASSERT_TRUE(PumpUntil([&] { return second.data.size() == 6; }));
    EXPECT_EQ(first.data, "screen");
    EXPECT_EQ(rxBuf, "screen");
    EXPECT_EQ(rxChar, 0);
    EXPECT_EQ(port->ReadBufUsed(), 0); // consumed by the port for its clients

    // The write thread's transmit-empty reaches the clients as a line event.
    ASSERT_TRUE(port->WriteText("key"));
    ASSERT_TRUE(PumpUntil([&] { return !first.lines.empty(); }));
    EXPECT_EQ(first.lines.front(), EV_TXEMPTY);
    EXPECT_EQ(PeerRead(3), "key");

    second.SetActive(false);
    PeerWrite("x");
    ASSERT_TRUE(PumpUntil([&] { return first.data.size() == 7; }));
    EXPECT_EQ(second.data, "screen"); // an inactive dispatcher passes nothing on

    first.SetComm(nullptr);
    second.SetComm(nullptr);
    EXPECT_EQ(port->ClientCount(), 0);
    PeerWrite("link");
    ASSERT_TRUE(PumpUntil([&] { return rxChar == 1; }));
    EXPECT_EQ(port->ReadText(), "link");
}

TEST_F(CommEvents, DisabledControlsStarveClientsButNotTheHandlers) {
    std::string rxBuf;
    int txEmpty = 0;
    port->OnRxBuf = [&](TVaCustomComm*, const std::uint8_t* data, int count) {
        rxBuf.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    };
    port->OnTxEmpty = [&](TVaCustomComm*) { ++txEmpty; };
    Client client;
    client.SetComm(port.get());
    port->DisableControls();
    port->Open();
    PeerWrite("hidden");
    ASSERT_TRUE(PumpUntil([&] { return rxBuf == "hidden"; }));
    ASSERT_TRUE(port->WriteText("k"));
    ASSERT_TRUE(PumpUntil([&] { return txEmpty == 1; }));
    EXPECT_EQ(client.data, "");
    EXPECT_TRUE(client.lines.empty());
    EXPECT_EQ(port->ReadBufUsed(), 0);
    port->EnableControls();
    PeerWrite("shown");
    ASSERT_TRUE(PumpUntil([&] { return client.data == "shown"; }));
}

TEST_F(CommEvents, DestroyingThePortDetachesItsClients) {
    Client client;
    client.SetComm(port.get());
    port.reset();
    EXPECT_EQ(client.Comm(), nullptr);
    EXPECT_EQ(client.Dispatcher().Comm(), nullptr);
    EXPECT_EQ(client.Dispatcher().WriteText("x"), false);
}

TEST_F(CommEvents, WriteQueueAcceptsAnExactFitAndRefusesOverflowAfterTheTimeout) {
    TVaBuffers small;
    small.SetWriteSize(16);
    small.SetWriteTimeout(100);
    port->SetBuffers(small);
    port->Open();
    StallOutput();
    EXPECT_TRUE(port->WriteText("0123456789"));
    EXPECT_TRUE(port->WriteText("abcdef")); // queued + count == capacity
    EXPECT_EQ(port->WriteBufUsed(), 16);
    EXPECT_EQ(port->WriteBufFree(), 0);
    try {
        port->WriteText("!");
        FAIL() << "a full queue must refuse the write";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
    }
    try {
        port->WriteBuf(std::string(17, 'x').data(), 17); // can never fit
        FAIL() << "a write larger than the queue must be refused";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
    }
    ResumeOutput();
    EXPECT_EQ(PeerRead(16), "0123456789abcdef"); // nothing of the refused writes was queued
    ASSERT_TRUE(PumpUntil([&] { return port->WriteBufUsed() == 0; }));
}

TEST_F(CommEvents, PurgesDiscardQueuedAndUnreadBytes) {
    port->Open();
    StallOutput();
    ASSERT_TRUE(port->WriteText("stale command"));
    port->PurgeWrite();
    EXPECT_EQ(port->WriteBufUsed(), 0);
    ASSERT_TRUE(port->WriteText("x"));
    port->PurgeReadWrite(); // a second purge waits for its own acknowledgement
    EXPECT_EQ(port->WriteBufUsed(), 0);
    ResumeOutput();
    ASSERT_TRUE(port->WriteText("fresh"));
    EXPECT_EQ(PeerRead(5), "fresh");

    int notices = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) { ++notices; };
    PeerWrite("old answer");
    ASSERT_TRUE(PumpUntil([&] { return notices == 1; }));
    port->PurgeRead();
    EXPECT_EQ(port->ReadBufUsed(), 0);
    EXPECT_EQ(port->ReadText(), "");
    PeerWrite("new");
    ASSERT_TRUE(PumpUntil([&] { return notices == 2; }));
    EXPECT_EQ(port->ReadText(), "new");
}

TEST_F(CommEvents, EventCharacterRaisesRxFlagAndNullStripDropsNuls) {
    std::string got;
    int flags = 0;
    port->SetMonitorEvents({ceRxChar, ceRxFlag});
    port->EventChars().SetEventCharValue('#');
    port->SetOptions({coNullStrip});
    port->OnRxChar = [&](TVaCustomComm*, int) { got += port->ReadText(); };
    port->OnRxFlag = [&](TVaCustomComm*) { ++flags; };
    port->Open();
    PeerWrite(std::string("O\0K\r\n#", 6));
    ASSERT_TRUE(PumpUntil([&] { return flags == 1 && got.size() == 5; }));
    EXPECT_EQ(got, "OK\r\n#");
}

TEST_F(CommEvents, NotificationsArriveInsideNestedLoopsAndAHandlerMayCloseThePort) {
    std::string answer;
    port->OnRxChar = [&](TVaCustomComm*, int) {
        answer += port->ReadText();
        if (!answer.empty() && answer.back() == '#')
            port->Close(); // from inside the hand-over, while the event thread waits for it
    };
    port->Open();
    bool clicked = false;
    // Like a button handler of the device link: send, then wait in a nested event loop for the reply.
    queue.Post([&] {
        clicked = true;
        port->WriteText(" quit\r");
        EXPECT_EQ(PeerRead(6), " quit\r");
        PeerWrite("Password:");
        EXPECT_TRUE(PumpUntil([&] { return answer == "Password:"; }));
        PeerWrite("#");
        EXPECT_TRUE(PumpUntil([&] { return !port->Active(); }));
    });
    queue.ProcessEvents(0);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(answer, "Password:#");
    EXPECT_FALSE(port->Active());
}

TEST_F(CommEvents, LateHandOversAfterCloseOrDestructionTouchNothing) {
    int notices = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) { ++notices; };
    port->Open();
    PeerWrite("late");
    while (queue.Pending() == 0)
        usleep(1000);
    port->Close();
    queue.ProcessEvents(0);
    EXPECT_EQ(notices, 0);

    port->Open();
    PeerWrite("later");
    while (queue.Pending() == 0)
        usleep(1000);
    port.reset();
    queue.ProcessEvents(0);
    EXPECT_EQ(notices, 0);
}

TEST_F(CommEvents, HandlerExceptionsGoToTheApplicationAndEventsGoOn) {
    int calls = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) {
        ++calls;
        port->ReadText();
        throw EVaCommError("handler broke");
    };
    port->Open();
    PeerWrite("a");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    PeerWrite("b");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    ASSERT_EQ(exceptions.size(), 2u);
    EXPECT_EQ(exceptions[0], "handler broke");
}

TEST_F(CommEvents, DirectWritesReportTransmitEmptyThroughTheEventThread) {
    int txEmpty = 0;
    port->SetDirectWrite(true);
    port->SetMonitorEvents({ceTxEmpty});
    port->OnTxEmpty = [&](TVaCustomComm*) { ++txEmpty; };
    port->Open();
    EXPECT_EQ(port->WriteBuf("direct", 6), 6);
    EXPECT_EQ(PeerRead(6), "direct");
    ASSERT_TRUE(PumpUntil([&] { return txEmpty >= 1; }));
    EXPECT_EQ(port->WriteBufUsed(), 0);
}

TEST_F(CommEvents, AHungUpPeerIsToldOnceAndNeitherSpinsNorLosesThePort) {
    int notices = 0, losses = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) { ++notices; };
    port->OnLineLost = [&](TVaCustomComm*) { ++losses; };
    port->Open();
    EXPECT_FALSE(port->LineLost());
    close(master);
    master = -1;
    PumpFor(100);
    EXPECT_EQ(notices, 0);
    EXPECT_EQ(losses, 1);
    EXPECT_TRUE(port->Active());
    EXPECT_TRUE(port->LineLost());
    // Nothing can reach a gone device: what is written is dropped, and no call raises or waits.
    EXPECT_FALSE(port->WriteText("into the void"));
    EXPECT_EQ(port->ReadBufUsed(), 0);
    EXPECT_EQ(port->WriteBufUsed(), 0);
    EXPECT_FALSE(port->Drain());
    PumpFor(100);
    EXPECT_EQ(losses, 1);
    port->Close();
    EXPECT_FALSE(port->LineLost());
}

TEST_F(CommEvents, BytesArrivingOneByOneAreNoticedInGroupsAndTheFirstAfterQuietAtOnce) {
    using Clock = std::chrono::steady_clock;
    int notices = 0;
    std::string got;
    Clock::time_point noticed{};
    port->OnRxChar = [&](TVaCustomComm*, int) {
        ++notices;
        got += port->ReadText();
        noticed = Clock::now();
    };
    port->Open();
    // A paced line: 400 bytes one by one, a byte time (0.29 ms at 38400 bit/s) apart, about 120 ms in all.
    std::thread peer([&] {
        auto next = Clock::now();
        for (int i = 0; i < 400; ++i) {
            PeerWrite("p");
            next += std::chrono::microseconds(286);
            std::this_thread::sleep_until(next);
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return got.size() >= 400; }));
    peer.join();
    EXPECT_LE(notices, 80) << "a notice (and a thread wake-up) for nearly every byte";
    // After a quiet moment one byte is noticed at once, not after a gathering pause.
    PumpFor(50);
    notices = 0;
    const auto sent = Clock::now();
    PeerWrite("x");
    EXPECT_TRUE(PumpUntil([&] { return got.size() >= 401; }));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(noticed - sent).count(), 20);
}

} // namespace

namespace {

class CommStress : public PtyTest {};

TEST_F(CommStress, BytesBeyondTheReceiveStoreAreCountedAndReadNotLost) {
    TVaBuffers small;
    small.SetReadSize(8);
    port->SetBuffers(small);
    std::string got;
    std::vector<int> counts;
    port->OnRxChar = [&](TVaCustomComm*, int count) {
        counts.push_back(count);
        got += port->ReadText();
    };
    port->Open();
    const std::string answer = "0123456789abcdefghijklmnopqrstuvwxyz";
    PeerWrite(answer);
    ASSERT_TRUE(PumpUntil([&] { return got.size() >= answer.size(); }));
    EXPECT_EQ(got, answer);
}

TEST_F(CommStress, AnotherThreadWritingThroughADispatcherWhileThePortClosesIsSafe) {
    struct Sender : TVaCommComponent {};
    Sender sender;
    sender.SetComm(port.get());
    port->Open();
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread transfer([&] {
        while (!stop) {
            try {
                accepted += sender.Dispatcher().WriteBuf("block", 5) == 5;
            } catch (const EVaCommError&) {
            }
        }
    });
    std::string drained;
    ASSERT_TRUE(PumpUntil([&] {
        char buf[512];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            drained.append(buf, static_cast<std::size_t>(n));
        return drained.size() > 100;
    }));
    port->Close();
    stop = true;
    transfer.join();
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(sender.Dispatcher().WriteBuf("x", 1), 0); // closed: nothing taken
    EXPECT_EQ(drained.substr(0, 10), "blockblock");
}

} // namespace

namespace {

class CommDispatch : public PtyTest {};

TEST_F(CommDispatch, LineEventsReachErrorsThenClientsThenHandlersInTheirOrder) {
    std::vector<std::string> order;
    struct Recorder : TVaCommComponent {
        std::vector<std::string>* order = nullptr;
        void LineChanged(std::uint32_t mask) override { order->push_back("client:" + std::to_string(mask)); }
    } client;
    client.order = &order;
    client.SetComm(port.get());
    auto note = [&](const char* name) { return [&order, name](TVaCustomComm*) { order.push_back(name); }; };
    port->OnRxFlag = note("RxFlag");
    port->OnCts = note("Cts");
    port->OnDsr = note("Dsr");
    port->OnRing = note("Ring");
    port->OnRlsd = note("Rlsd");
    port->OnTxEmpty = note("TxEmpty");
    port->OnBreak = note("Break");
    port->OnPErr = note("PErr");
    port->OnRx80Full = note("Rx80Full");
    port->OnEvent1 = note("Event1");
    port->OnEvent2 = note("Event2");
    const std::uint32_t all = EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING |
                              EV_PERR | EV_RX80FULL | EV_EVENT1 | EV_EVENT2;
    port->HandleLineEvent(all);
    const std::vector<std::string> expected = {"client:" + std::to_string(all),
                                               "RxFlag",
                                               "Cts",
                                               "Dsr",
                                               "Ring",
                                               "Rlsd",
                                               "TxEmpty",
                                               "Break",
                                               "PErr",
                                               "Rx80Full",
                                               "Event1",
                                               "Event2"};
    EXPECT_EQ(order, expected);

    order.clear();
    port->HandleLineEvent(EV_RING);
    EXPECT_EQ(order, (std::vector<std::string>{"client:256", "Ring"}));
}

TEST_F(CommDispatch, TransmitEmptyHandlerMayCloseThePortAndReopenIt) {
    int txEmpty = 0;
    port->OnTxEmpty = [&](TVaCustomComm* sender) {
        ++txEmpty;
        sender->Close(); // while the write thread waits for this very hand-over
    };
    port->Open();
    ASSERT_TRUE(port->WriteText("bye\r"));
    ASSERT_TRUE(PumpUntil([&] { return !port->Active(); }));
    EXPECT_EQ(PeerRead(4), "bye\r");
    port->OnTxEmpty = nullptr;
    port->Open();
    ASSERT_TRUE(port->WriteText("again"));
    EXPECT_EQ(PeerRead(5), "again");
    EXPECT_EQ(txEmpty, 1);
}

TEST_F(CommDispatch, TheDisplayIsUpdatedOnEventsAndForgottenWhenDestroyed) {
    struct Display : TVaCommDisplay {
        int updates = 0;
        void UpdateDisplay(TVaCustomComm&) override { ++updates; }
    };
    auto display = std::make_unique<Display>();
    port->SetDisplay(display.get());
    int notices = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) {
        ++notices;
        port->ReadText();
    };
    port->Open();
    PeerWrite("a");
    ASSERT_TRUE(PumpUntil([&] { return notices == 1; }));
    EXPECT_EQ(display->updates, 1);
    display.reset();
    EXPECT_EQ(port->Display(), nullptr);
    PeerWrite("b");
    ASSERT_TRUE(PumpUntil([&] { return notices == 2; }));
}

TEST_F(CommDispatch, ALateDataEventOnAClosedPortCallsNothing) {
    int notices = 0;
    port->OnRxChar = [&](TVaCustomComm*, int) { ++notices; };
    port->DoEvent(EV_RXCHAR);
    EXPECT_EQ(notices, 0);
    port->Open();
    const TVaCommProp props = port->GetProperties();
    EXPECT_EQ(props.dwCurrentRxQueue, 4096u);
    EXPECT_EQ(props.dwCurrentTxQueue, 2048u);
    port->DoEvent(EV_RXCHAR); // nothing waiting: nothing to report
    EXPECT_EQ(notices, 0);
}

} // namespace

namespace {

class CommReadHint : public PtyTest {};

// A reader that knows how much it needs is woken once when it is all there, and still woken when less comes
// and the line goes quiet: a hint must never turn into a wait for bytes that are not coming.
TEST_F(CommReadHint, NoticeWaitsForTheHintedBytesButNotForBytesThatNeverCome) {
    std::vector<int> counts;
    std::string received;
    port->OnRxChar = [&](TVaCustomComm*, int count) {
        counts.push_back(count);
        received += port->ReadText();
    };
    port->Open();

    // A block trickling in as a paced line brings it: 20 bytes every 2 ms. Without the hint the reader is
    // woken every few milliseconds, a dozen times or more.
    port->SetReadHint(600);
    std::thread sender([&] {
        for (int i = 0; i < 30; ++i) {
            PeerWrite(std::string(20, 'a'));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const bool all = PumpUntil([&] { return received.size() >= 600; });
    sender.join();
    ASSERT_TRUE(all);
    EXPECT_LE(counts.size(), 4u) << "the reader was woken again and again before its block was there";

    counts.clear();
    received.clear();
    port->SetReadHint(1029);
    PeerWrite(std::string(5, 'b'));
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 5; }, 2000))
        << "bytes short of the hint were held back on a quiet line";
    EXPECT_EQ(received, "bbbbb");

    // Without a hint every byte is news again.
    port->SetReadHint(0);
    received.clear();
    PeerWrite("c");
    ASSERT_TRUE(PumpUntil([&] { return received == "c"; }));
}

} // namespace
