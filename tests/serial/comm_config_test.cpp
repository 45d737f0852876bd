// Line configuration as the driver holds it, the open-state rules and the exact failure messages.
#include "pty_fixture.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "serial/line_settings_unix.h"
#include "serial/termios2_linux.h"

using namespace serial;

namespace {

class CommConfig : public PtyTest {
protected:
    std::string MessageOf(const std::function<void()>& Action) {
        try {
            Action();
        } catch (const EVaCommError& e) {
            return e.what();
        }
        return "(no EVaCommError)";
    }
    unsigned SlaveSpeed() {
        unsigned rate = 0;
        EXPECT_EQ(GetTtySpeed(slave, rate), 0);
        return rate;
    }
    static int ThreadCount() {
        int n = 0;
        if (DIR* d = opendir("/proc/self/task")) {
            while (dirent* e = readdir(d))
                n += e->d_name[0] != '.';
            closedir(d);
        }
        return n;
    }
};

TEST_F(CommConfig, DeviceLinkSettingsReachTheDriver) {
    port->SetBaudrate(br38400);
    port->SetStopbits(sb2);
    port->SetParity(paNone);
    port->SetDatabits(db8);
    port->EventChars().SetXonChar(0);
    port->EventChars().SetXoffChar(0);
    port->SetMonitorEvents({ceRxChar, ceRxFlag});
    port->Open();
    const termios t = SlaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & (PARENB | CRTSCTS));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_TRUE(t.c_cflag & (CREAD | CLOCAL));
}

TEST_F(CommConfig, CharacterFormatIncludingMarkAndSpaceParityBecomesTermiosFlags) {
    // A pseudo-terminal always holds eight bits and no parity, so the format is checked on the settings the
    // port gives the driver.
    auto flags = [&] {
        termios t{};
        FillTermios(t, *port);
        return t;
    };
    port->SetParity(paMark);
    port->SetDatabits(db7);
    EXPECT_EQ(flags().c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    EXPECT_EQ(flags().c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    port->SetParity(paSpace);
    port->SetDatabits(db5);
    EXPECT_EQ(flags().c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
    EXPECT_EQ(flags().c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    port->SetParity(paOdd);
    EXPECT_EQ(flags().c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
    port->SetParity(paEven);
    port->SetStopbits(sb15);
    EXPECT_EQ(flags().c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
    EXPECT_TRUE(flags().c_cflag & CSTOPB);
    port->SetDatabits(db4);
    EXPECT_EQ(MessageOf([&] { flags(); }), "Error writing dcb (22), Invalid argument");
}

TEST_F(CommConfig, StopBitsFlowControlAndCharactersAreAppliedWhileOpen) {
    port->Open();
    port->SetStopbits(sb2);
    port->SetOptions({coParityCheck});
    termios t = SlaveTermios();
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & INPCK);

    port->FlowControl().SetOutCtsFlow(true);
    port->FlowControl().SetXonXoffOut(true);
    port->FlowControl().SetXonXoffIn(true);
    port->EventChars().SetXonChar('Q');
    port->EventChars().SetXoffChar('S');
    t = SlaveTermios();
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_EQ(t.c_cc[VSTOP], 'S');

    TVaFlowControl none;
    port->SetFlowControl(none);
    t = SlaveTermios();
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

    // Four data bits do not exist on this driver: refused, the port stays open with the old settings.
    EXPECT_EQ(MessageOf([&] { port->SetDatabits(db4); }), "Error writing dcb (22), Invalid argument");
    EXPECT_TRUE(port->Active());
    EXPECT_TRUE(SlaveTermios().c_cflag & CSTOPB);
}

TEST_F(CommConfig, RatesIncludingUserRatesAreAppliedAtOnceWhileOpen) {
    port->Open();
    EXPECT_EQ(SlaveSpeed(), 1200u); // the default rate
    port->SetBaudrate(br115200);
    EXPECT_EQ(SlaveSpeed(), 115200u);
    port->SetBaudrate(br14400); // not a termios constant
    EXPECT_EQ(SlaveSpeed(), 14400u);
    port->SetUserBaudrate(250000);
    EXPECT_EQ(port->Baudrate(), brUser);
    EXPECT_EQ(SlaveSpeed(), 250000u);
    port->SetBaudrate(br9600);
    EXPECT_EQ(port->UserBaudrate(), 0);
    EXPECT_EQ(SlaveSpeed(), 9600u);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(SlaveTermios())), static_cast<speed_t>(B9600));
}

TEST_F(CommConfig, UpdateDcbOffLeavesTheDriverSettingsAlone) {
    termios before = SlaveTermios();
    port->SetUpdateDCB(false);
    port->SetBaudrate(br56000);
    port->Open();
    const termios after = SlaveTermios();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(CommConfig, PropertiesThatNeedAClosedPortAreRefusedWhileOpen) {
    port->SetPortNum(2);
    port->Open();
    const std::string open = "Can't perform this operation while port is open";
    EXPECT_EQ(MessageOf([&] { port->Open(); }), open);
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(MessageOf([&] { port->SetPortNum(5); }), open);
    EXPECT_EQ(port->PortNum(), 2);
    EXPECT_EQ(MessageOf([&] { port->SetDeviceName("/dev/null"); }), open);
    EXPECT_EQ(port->DeviceName(), slavePath);
    EXPECT_EQ(MessageOf([&] { port->SetMonitorEvents({}); }), open);
    EXPECT_EQ(port->MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(MessageOf([&] { port->SetDirectWrite(true); }), open);
    EXPECT_FALSE(port->DirectWrite());
    EXPECT_EQ(MessageOf([&] { port->SetUpdateDCB(false); }), open);
    EXPECT_EQ(MessageOf([&] { port->SetBuffers(TVaBuffers()); }), open);
    // A buffer size changed in place keeps its new value, though it is not applied.
    EXPECT_EQ(MessageOf([&] { port->Buffers().SetReadSize(100); }), open);
    EXPECT_EQ(port->Buffers().ReadSize(), 100);
    // Time-outs are read when used and may change at any time.
    port->Buffers().SetWriteTimeout(50);
    EXPECT_EQ(port->GetProperties().dwServiceMask, 1u);

    port->Close();
    EXPECT_FALSE(port->Active());
    port->Close(); // harmless on a closed port
    port->SetPortNum(5);
    EXPECT_EQ(port->PortNum(), 5);
}

TEST_F(CommConfig, MissingAndBusyDevicesGiveTheirMessagesAndLeaveThePortClosed) {
    setenv("ZIREZID_COM3", "/nonexistent/ttyX", 1);
    port->SetDeviceName("\\\\.\\COM%d");
    port->SetPortNum(3);
    EXPECT_EQ(port->GetDeviceName(), "\\\\.\\COM3");
    EXPECT_EQ(MessageOf([&] { port->Open(); }), "Specified device not found (\\\\.\\COM3).");
    EXPECT_FALSE(port->Active());

    // The same device in this process...
    setenv("ZIREZID_COM3", slavePath.c_str(), 1);
    port->Open();
    TVaComm second;
    second.SetDeviceName(slavePath);
    EXPECT_EQ(MessageOf([&] { second.Open(); }),
              "Can't open specified device " + slavePath + " (Error 16, Device or resource busy)");
    EXPECT_FALSE(second.Active());
    // ...and from another process, both ways.
    const std::string probe = "flock -n " + slavePath + " true";
    EXPECT_NE(std::system(probe.c_str()), 0);
    port->Close();
    unsetenv("ZIREZID_COM3");
    EXPECT_EQ(std::system(probe.c_str()), 0);

    // Another process holds the lock (flock keeps it, its command runs without the descriptor).
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
    std::string lockPath = slavePath;
    char arg0[] = "flock", arg1[] = "-o", arg3[] = "sleep", arg4[] = "30";
    char* argv[] = {arg0, arg1, lockPath.data(), arg3, arg4, nullptr};
    pid_t holder = 0;
    ASSERT_EQ(posix_spawnp(&holder, "flock", &quiet, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&quiet);
    while (std::system(probe.c_str()) == 0) // until the holder has the lock
        usleep(5000);
    second.SetDeviceName(slavePath);
    EXPECT_EQ(MessageOf([&] { second.Open(); }),
              "Can't open specified device " + slavePath + " (Error 16, Device or resource busy)");
    kill(holder, SIGTERM);
    waitpid(holder, nullptr, 0);
}

TEST_F(CommConfig, OperationsOnAClosedPortAndHandshakeRefusals) {
    char c = 0;
    EXPECT_EQ(port->ReadText(), "");
    EXPECT_FALSE(port->ReadChar(c));
    EXPECT_FALSE(port->WriteText("x"));
    EXPECT_TRUE(port->WriteText(""));
    EXPECT_EQ(port->WriteBuf("abc", 3), 0);
    EXPECT_EQ(port->ReadBufUsed() + port->ReadBufFree() + port->WriteBufUsed() + port->WriteBufFree(), 0);
    EXPECT_FALSE(port->GetModemStatus(1));
    port->PurgeReadWrite();
    port->SetDTR(true); // nothing to do while closed
    EXPECT_EQ(MessageOf([&] { port->GetProperties(); }), "Can't perform this operation while port is closed");

    port->FlowControl().SetControlRts(rtsToggle);
    EXPECT_EQ(MessageOf([&] { port->SetRTS(true); }),
              "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    port->FlowControl().SetControlRts(rtsHandshake);
    EXPECT_EQ(MessageOf([&] { port->SetRTS(false); }),
              "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    port->FlowControl().SetControlDtr(dtrHandshake);
    EXPECT_EQ(MessageOf([&] { port->SetDTR(false); }),
              "DTR line updates not allowed when flowcontrol is set to Handshake.");
}

TEST_F(CommConfig, PseudoTerminalWithoutModemLinesStillOpensAndReadsLinesAsOff) {
    port->FlowControl().SetControlDtr(dtrEnabled);
    port->FlowControl().SetControlRts(rtsEnabled);
    port->Open();
    EXPECT_TRUE(port->Active());
    for (int i = 1; i <= 4; ++i)
        EXPECT_FALSE(port->GetModemStatus(i));
    EXPECT_FALSE(port->ClearLineErrors());
    EXPECT_FALSE(port->GetComStat(4));
    // Asked for explicitly, a line the driver does not have is a failure the caller hears of.
    EXPECT_EQ(MessageOf([&] { port->SetDTR(true); }),
              "Error calling comm function (25), Inappropriate ioctl for device");
    port->SetBreak(true);
    port->SetBreak(false);
    port->SetXon(true);
}

TEST_F(CommConfig, ThreadsFollowTheEventMaskAndTheWriteMode) {
    std::thread([] {}).join(); // a sanitizer starts its own helper thread with the first thread
    const int base = ThreadCount();
    port->SetMonitorEvents({});
    port->SetDirectWrite(true);
    port->Open();
    EXPECT_EQ(ThreadCount(), base);
    EXPECT_EQ(port->WriteBuf("hi", 2), 2);
    EXPECT_EQ(PeerRead(2), "hi");
    port->Close();

    port->SetDirectWrite(false);
    port->Open();
    EXPECT_EQ(ThreadCount(), base + 1); // the write thread only
    port->Close();
    port->SetMonitorEvents({ceRxChar});
    port->Open();
    EXPECT_EQ(ThreadCount(), base + 2);
    port->Close();
    EXPECT_EQ(ThreadCount(), base); // Close leaves nothing running
}

TEST_F(CommConfig, OpenAndCloseHandlersAndAutoOpen) {
    int opened = 0, closed = 0;
    port->OnOpen = [&](TVaCustomComm*) {
        ++opened;
        throw std::runtime_error("open handler failed");
    };
    port->OnClose = [&](TVaCustomComm*) { ++closed; };
    port->SetAutoOpen(true);
    port->Loaded();
    EXPECT_TRUE(port->Active()); // the handler's exception goes to the handler of the application
    EXPECT_EQ(opened, 1);
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_EQ(exceptions[0], "open handler failed");
    port->Close();
    EXPECT_EQ(closed, 1);
    port->Open();
    port.reset(); // destroying closes without OnClose
    EXPECT_EQ(closed, 1);
}

} // namespace
