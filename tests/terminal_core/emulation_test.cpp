// The teletype emulation, capture, and the screen attached to a port on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serial/terminal.h"
#include "serial/tty_emulation.h"
#include "tests/serial/pty_fixture.h"

using serial::TVaTerminal;
using serial::TVaTTYEmulation;

namespace {

void Feed(TVaTerminal& t, const std::string& bytes) {
    t.DataChanged(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/terminal_test.XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

} // namespace

TEST(TTYEmulation, CrLfSplitAcrossBlocksMakesOneBreak) {
    TVaTerminal t;
    TVaTTYEmulation e;
    t.SetEmulation(&e);
    EXPECT_EQ(e.Terminal(), &t);
    EXPECT_EQ(e.LastChar(), ' ');
    Feed(t, "OK\r");
    Feed(t, "\n#");
    EXPECT_EQ(t.ScreenText(0), "OK");
    EXPECT_EQ(t.ScreenText(1), "#");
    EXPECT_EQ(e.LastChar(), '#');
    // Only the LF that completes a CR is dropped: LF after LF, and LF after other text, are line ends.
    Feed(t, "\n");
    Feed(t, "\nX");
    EXPECT_EQ(t.ScreenText(2), "");
    EXPECT_EQ(t.ScreenText(3), "X");
}

TEST(TTYEmulation, ReceivedTextTakesTheScreenColours) {
    TVaTerminal t;
    TVaTTYEmulation e;
    t.SetEmulation(&e);
    t.SetFontColor(0x00FF00);
    t.SetColor(0x000010);
    Feed(t, "a");
    EXPECT_EQ(t.ScreenCell(0, 0).Fore, 0x00FF00u);
    EXPECT_EQ(t.ScreenCell(0, 0).Back, 0x000010u);
}

TEST(TTYEmulation, LocalEchoShowsTypedKeysInTheEchoColour) {
    TVaTerminal t;
    TVaTTYEmulation e;
    t.SetEmulation(&e);
    t.SetLocalEchoColor(serial::clYellow);
    t.KeyPress('a');
    EXPECT_EQ(t.ScreenText(0), "");
    t.SetLocalEcho(true);
    t.KeyPress('b');
    t.KeyPress('\r');
    t.KeyPress('c');
    EXPECT_EQ(t.ScreenText(0), "b");
    EXPECT_EQ(t.ScreenCell(0, 0).Fore, serial::clYellow);
    EXPECT_EQ(t.ScreenText(1), "c");
}

TEST(TTYEmulation, EitherSideMayGoFirst) {
    TVaTerminal t;
    {
        TVaTTYEmulation e;
        t.SetEmulation(&e);
    }
    EXPECT_EQ(t.Emulation(), nullptr);
    Feed(t, "ignored");
    TVaTTYEmulation e;
    {
        TVaTerminal inner;
        inner.SetEmulation(&e);
    }
    EXPECT_EQ(e.Terminal(), nullptr);
    // Moving the emulation to another terminal: the first forgets it, and still goes cleanly.
    TVaTerminal a, b;
    a.SetEmulation(&e);
    b.SetEmulation(&e);
    a.SetEmulation(nullptr);
    EXPECT_EQ(e.Terminal(), &b);
}

TEST(TerminalCapture, ReceivedBytesGoToTheFileEmptiedOrAppended) {
    TempDir dir;
    const auto file = dir.path / "cap.log";
    std::ofstream(file) << "old";
    TVaTerminal t;
    t.SetCaptureFile(file.string());
    Feed(t, "not captured");
    t.SetCapture(true);
    Feed(t, std::string("a\0\r\n", 4));
    t.SetCapture(false);
    Feed(t, "off");
    EXPECT_EQ(ReadFile(file), std::string("a\0\r\n", 4));

    t.SetCaptureAppend(true);
    t.SetCapture(true);
    Feed(t, "b");
    // A new name while capturing closes the old file and opens the new one.
    const auto second = dir.path / "second.log";
    t.SetCaptureFile(second.string());
    Feed(t, "c");
    t.SetCapture(false);
    EXPECT_EQ(ReadFile(file), std::string("a\0\r\nb", 5));
    EXPECT_EQ(ReadFile(second), "c");
}

TEST(TerminalCapture, AFileThatCannotBeOpenedIsRefusedAndCaptureStaysOff) {
    TempDir dir;
    TVaTerminal t;
    t.SetCaptureFile((dir.path / "missing" / "cap.log").string());
    EXPECT_THROW(t.SetCapture(true), serial::EVaTerminalError);
    EXPECT_FALSE(t.Capture());

    t.SetCaptureFile((dir.path / "good.log").string());
    t.SetCapture(true);
    EXPECT_THROW(t.SetCaptureFile((dir.path / "missing" / "x.log").string()), serial::EVaTerminalError);
    EXPECT_FALSE(t.Capture());
}

TEST(TerminalCapture, AFailingWriteStillShowsTheBytesThenReports) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TVaTerminal t;
    TVaTTYEmulation e;
    t.SetEmulation(&e);
    t.SetCaptureFile("/dev/full");
    t.SetCapture(true);
    EXPECT_THROW(Feed(t, "shown"), serial::EVaTerminalError);
    EXPECT_EQ(t.ScreenText(0), "shown");
    EXPECT_FALSE(t.Capture());
    EXPECT_NO_THROW(Feed(t, "!"));
}

// ---------------------------------------------------------------------------------------------------------------
// On a port

class TerminalOnPort : public PtyTest {
protected:
    void SetUp() override {
        PtyTest::SetUp();
        terminal.SetEmulation(&emulation);
        port->OnRxChar = [this](serial::TVaCustomComm*, int) { ++rxCharCalls; };
    }
    void TearDown() override {
        terminal.SetComm(nullptr);
        PtyTest::TearDown();
    }
    TVaTerminal terminal;
    TVaTTYEmulation emulation;
    int rxCharCalls = 0;
};

TEST_F(TerminalOnPort, BytesFromThePeerAppearOnTheScreenAndNotInOnRxChar) {
    terminal.SetComm(port.get());
    port->Open();
    PeerWrite("Password:\r");
    ASSERT_TRUE(PumpUntil([&] { return terminal.ScreenText(0) == "Password:"; }));
    PeerWrite("\n# ");
    ASSERT_TRUE(PumpUntil([&] { return terminal.ScreenText(1) == "#"; }));
    EXPECT_EQ(terminal.CaretLine(), 23);
    EXPECT_EQ(rxCharCalls, 0);

    // Detached, the port's own handler gets the bytes again.
    terminal.SetComm(nullptr);
    PeerWrite("x");
    ASSERT_TRUE(PumpUntil([&] { return rxCharCalls > 0; }));
    EXPECT_EQ(terminal.ScreenText(2), "");
}

TEST_F(TerminalOnPort, EnterIsSentAsCrLfAndEchoedAsOneBreak) {
    terminal.SetComm(port.get());
    terminal.SetLocalEcho(true);
    port->Open();
    for (char c : std::string("ver\r"))
        terminal.KeyPress(c);
    EXPECT_EQ(PeerRead(5), "ver\r\n");
    EXPECT_EQ(terminal.ScreenText(0), "ver");
    EXPECT_EQ(terminal.CaretLine(), 23);
    EXPECT_EQ(terminal.CaretColumn(), 0);
}

TEST_F(TerminalOnPort, NothingIsSentWhileInactiveOrUnattached) {
    port->Open();
    terminal.KeyPress('a');
    terminal.SetComm(port.get());
    terminal.SetActive(false);
    terminal.KeyPress('b');
    terminal.SetActive(true);
    terminal.KeyPress('c');
    EXPECT_EQ(PeerRead(1), "c");
}

TEST_F(TerminalOnPort, ADestroyedPortLeavesTheScreenUnattached) {
    terminal.SetComm(port.get());
    port->Open();
    port.reset();
    EXPECT_EQ(terminal.Comm(), nullptr);
    terminal.KeyPress('a');
}
