// The XMODEM/YMODEM components on a real port over a pseudo-terminal: against Debian's lrzsz in both
// directions, and against a scripted peer for the protocol's edge cases.
#include "link/va_xymodem.h"
#include "link/vacrc32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "serial/comm.h"
#include "serial/main_thread.h"

namespace fs = std::filesystem;
using namespace serial;
using namespace std::string_literals;
using namespace std::chrono_literals;

namespace {

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

bool haveLrzsz() { return std::system("command -v sb >/dev/null 2>&1 && command -v rx >/dev/null 2>&1") == 0; }

// An XMODEM packet as a sender puts it on the line.
std::string packet(int number, const std::string& data, bool crc, bool corrupt = false) {
    std::string p;
    p += static_cast<char>(data.size() == 1024 ? STX : SOH);
    p += static_cast<char>(number);
    p += static_cast<char>(~number);
    p += data;
    if (crc) {
        std::uint16_t v = BlockCRC16(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        p += static_cast<char>(v >> 8);
        p += static_cast<char>(v & 0xFF);
    } else {
        std::uint8_t sum = 0;
        for (char c : data)
            sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
        p += static_cast<char>(sum);
    }
    if (corrupt)
        p[5] = static_cast<char>(p[5] ^ 0x40);
    return p;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        char tmpl[] = "/tmp/xymodem_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        fs::create_directories(dir / "send");
        fs::create_directories(dir / "recv");
        SetMainThreadHost(&queue);
        queue.OnException = [this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                exceptions.push_back(x.what());
            }
        };
        port = std::make_unique<TVaComm>();
        port->SetDeviceName(ptsname(master));
        port->SetBaudrate(br115200);
        port->Open();
    }

    void TearDown() override {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        StopRelay();
        if (peer.joinable())
            peer.join();
        port.reset();
        queue.ProcessEvents(0);
        SetMainThreadHost(nullptr);
        close(master);
        fs::remove_all(dir);
        EXPECT_TRUE(exceptions.empty()) << exceptions.front();
    }

    // Generous limits: a slow machine never fails a test, a hang still ends.
    bool PumpUntil(const std::function<bool()>& done, int limitMs = 30000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            queue.ProcessEvents(5);
        }
        return true;
    }

    // Runs an lrzsz program on the other end of the line, in Folder. It talks through pipes relayed to our
    // line: lrzsz flushes its terminal's queues as it ends, and on a pseudo-terminal that discards its last
    // ACK before our port has read it, which no real line does.
    void Spawn(const fs::path& folder, std::vector<std::string> args) {
        int toChild[2], fromChild[2];
        ASSERT_EQ(pipe(toChild), 0);
        ASSERT_EQ(pipe(fromChild), 0);
        relayIn = fromChild[0];
        relayOut = toChild[1];
        relayStop = false;
        relay = std::thread([this] {
            char buf[4096];
            bool childOpen = true;
            while (!relayStop) {
                pollfd p[2] = {{master, POLLIN, 0}, {relayIn, static_cast<short>(childOpen ? POLLIN : 0), 0}};
                if (poll(p, 2, 20) <= 0)
                    continue;
                for (int i = 0; i < 2; ++i) {
                    if (!(p[i].revents & (POLLIN | POLLHUP)))
                        continue;
                    ssize_t n = read(p[i].fd, buf, sizeof buf);
                    if (n <= 0) {
                        if (i == 1)
                            childOpen = false;
                        continue;
                    }
                    const int to = i == 0 ? relayOut : master;
                    for (ssize_t off = 0; off < n;) {
                        ssize_t w = write(to, buf + off, static_cast<std::size_t>(n - off));
                        if (w <= 0)
                            break;
                        off += w;
                    }
                }
            }
        });
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            int log =
                open(getenv("LRZSZ_LOG") ? getenv("LRZSZ_LOG") : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(log, 2);
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
            if (chdir(folder.c_str()) != 0)
                _exit(126);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
    }
    void StopRelay() {
        relayStop = true;
        if (relay.joinable())
            relay.join();
        for (int* fd : {&relayIn, &relayOut})
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
    }
    // The child's exit status once it ended, else -1.
    int ChildStatus() {
        if (child <= 0)
            return childStatus;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            child = -1;
            childStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            StopRelay();
        }
        return child > 0 ? -1 : childStatus;
    }

    // Scripted peer helpers, for the peer thread.
    int PeerByte(int ms = 5000) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return -1;
        unsigned char b = 0;
        return read(master, &b, 1) == 1 ? b : -1;
    }
    std::string PeerRead(std::size_t n, int ms = 5000) {
        std::string got;
        while (got.size() < n) {
            int b = PeerByte(ms);
            if (b < 0)
                break;
            got.push_back(static_cast<char>(b));
        }
        return got;
    }
    void PeerWrite(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Attaches Component and collects its end and error events. lrzsz paces itself with one-second reads and
    // may NAK a packet when the machine is busy; the transfer recovers from that, so the tests check results,
    // not the absence of error events.
    void Watch(TVaXYModem& component) {
        component.SetComm(port.get());
        component.SetTimeout(10000);
        component.SetStartupWait(500);
        component.OnTransferEnd = [this](TVaProtocol*, int code) {
            ended = true;
            exitCode = code;
        };
        component.OnError = [this](TVaProtocol*, int code, int count) { errors.emplace_back(code, count); };
    }

    std::string ErrorsText() const {
        std::string t = "ended " + std::to_string(ended) + " exit " + std::to_string(exitCode) + ", errors:";
        for (auto [code, count] : errors)
            t += " " + std::to_string(code) + "/" + std::to_string(count);
        return t;
    }

    int master = -1;
    fs::path dir;
    TVaEventQueue queue;
    std::vector<std::string> exceptions;
    std::unique_ptr<TVaComm> port;
    pid_t child = -1;
    int relayIn = -1;
    int relayOut = -1;
    std::atomic<bool> relayStop{false};
    std::thread relay;
    int childStatus = -1;
    std::thread peer;
    bool ended = false;
    int exitCode = 1;
    std::vector<std::pair<int, int>> errors;
};

const std::size_t kSizes[] = {0, 1, 1024, 1025, 200000};

TEST(Vacrc32, ChecksumsMatchTheirStandardCheckValues) {
    const std::string text = "123456789";
    std::uint16_t crc16 = 0;
    std::uint32_t crc32 = 0xFFFFFFFFu;
    for (char c : text) {
        crc16 = CalcCRC16(static_cast<std::uint8_t>(c), crc16);
        crc32 = CalcCRC32(static_cast<std::uint8_t>(c), crc32);
    }
    EXPECT_EQ(crc16, 0x31C3);
    EXPECT_EQ(crc32 ^ 0xFFFFFFFFu, 0xCBF43926u);
    EXPECT_EQ(BlockCRC16(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0x31C3);
}

TEST(YModemBlockZero, NameLosesEveryFolderAndSizeIsParsed) {
    auto block = [](const std::string& s) {
        std::string b = s;
        b.resize(128, '\0');
        return b;
    };
    auto name = [](const std::string& b) {
        return YModemLocalName(reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<int>(b.size()));
    };
    auto size = [](const std::string& b) {
        return YModemAnnouncedSize(reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<int>(b.size()));
    };
    EXPECT_EQ(name(block("report.txt\0"s + "1234 14360573131 100644")), "report.txt");
    EXPECT_EQ(size(block("report.txt\0"s + "1234 14360573131 100644")), 1234);
    EXPECT_EQ(name(block("../../etc/passwd\0"s + "5")), "passwd");
    EXPECT_EQ(name(block("C:\\temp\\msg.ktm\0"s + "5")), "msg.ktm");
    EXPECT_EQ(name(block("..\0"s + "5")), "_");
    EXPECT_EQ(name(block("dir/\0"s + "5")), "_");
    EXPECT_EQ(name(block(std::string("\xcf\xf0\xe8\xe2\xe5\xf2.wav\0", 11))), "Привет.wav");
    EXPECT_EQ(name(block("")), "") << "an empty name ends the batch";
    EXPECT_EQ(size(block(std::string("a\0", 2))), kUnknownFileSize);
    EXPECT_EQ(size(block("a\0"s + "99999999999999999999")), kUnknownFileSize);
}

TEST_F(Transfer, YModemBatchToLrzszArrivesByteIdentical) {
    if (!haveLrzsz())
        GTEST_SKIP() << "lrzsz not installed";
    TVaYModem ymodem;
    Watch(ymodem);
    std::vector<std::string> files;
    for (std::size_t n : kSizes) {
        fs::path p = dir / "send" / ("f" + std::to_string(n) + ".bin");
        spit(p, randomBytes(n, static_cast<unsigned>(n)));
        files.push_back(p.string());
    }
    ymodem.SetFiles(files);
    ymodem.SetMode(tmUpload);
    ymodem.Execute();
    Spawn(dir / "recv", {"rb", getenv("LRZSZ_LOG") ? "-vvv" : "-q"});
    ASSERT_TRUE(PumpUntil([&] { return ended && ChildStatus() >= 0; }, 120000)) << ErrorsText();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(ChildStatus(), 0);
    for (std::size_t n : kSizes) {
        std::string name = "f" + std::to_string(n) + ".bin";
        EXPECT_TRUE(slurp(dir / "recv" / name) == slurp(dir / "send" / name)) << name;
        EXPECT_EQ(fs::file_size(dir / "recv" / name), n);
    }
    EXPECT_FALSE(ymodem.IsActive());
    EXPECT_EQ(ymodem.ErrorCount(), 0) << "0 once idle";
}

TEST_F(Transfer, YModemBatchFromLrzszArrivesByteIdenticalUnderUniqueNames) {
    if (!haveLrzsz())
        GTEST_SKIP() << "lrzsz not installed";
    TVaYModem ymodem;
    Watch(ymodem);
    std::vector<std::string> args = {"sb", "-q"};
    for (std::size_t n : kSizes) {
        std::string name = "f" + std::to_string(n) + ".bin";
        spit(dir / "send" / name, randomBytes(n, static_cast<unsigned>(n) + 7));
        args.push_back(name);
    }
    spit(dir / "recv" / "f1.bin", "already here");
    std::vector<std::string> infos;
    std::int64_t lastCount = -1;
    ymodem.OnFileInfo = [&](TVaXYModem*, const std::string& name, std::int64_t) { infos.push_back(name); };
    ymodem.OnPacketEvent = [&](TVaXYModem*, int, std::int64_t count) { lastCount = count; };
    ymodem.SetTargetFolder((dir / "recv").string());
    ymodem.SetMode(tmDownload);
    ymodem.Execute();
    EXPECT_THROW(ymodem.Execute(), EVaProtocolError) << "a second Execute while one runs";
    Spawn(dir / "send", args);
    ASSERT_TRUE(PumpUntil([&] { return ended && ChildStatus() >= 0; }, 120000)) << ErrorsText();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(ChildStatus(), 0);
    ASSERT_EQ(ymodem.Files().size(), 5u);
    EXPECT_EQ(ymodem.Files()[1], (dir / "recv" / "f1-1.bin").string());
    EXPECT_EQ(slurp(dir / "recv" / "f1.bin"), "already here");
    EXPECT_EQ(infos, ymodem.Files());
    for (std::size_t i = 0; i < 5; ++i) {
        std::string name = "f" + std::to_string(kSizes[i]) + ".bin";
        EXPECT_TRUE(slurp(ymodem.Files()[i]) == slurp(dir / "send" / name)) << name;
    }
    EXPECT_EQ(lastCount, 200000);
}

TEST_F(Transfer, XModemToLrzszArrivesUpToThePaddingOfItsLastPacket) {
    if (!haveLrzsz())
        GTEST_SKIP() << "lrzsz not installed";
    // rx asks with NAK (checksum, 128-byte packets) or, with -c, with "C" (CRC, 1024-byte packets and a tail
    // of 128-byte ones).
    for (bool crc : {false, true})
        for (std::size_t n : kSizes) {
            // XMODEM has no way to say "empty file": rx waits for a first packet and ignores the EOT. With
            // CRC the sizes that mix 1024- and 128-byte packets are enough.
            if (n == 0 || (crc && n != 1025 && n != 200000))
                continue;
            SCOPED_TRACE(std::to_string(n) + (crc ? " bytes, CRC" : " bytes, checksum"));
            ended = false;
            errors.clear();
            std::string data = randomBytes(n, static_cast<unsigned>(n) + 11);
            spit(dir / "send" / "x.bin", data);
            fs::remove(dir / "recv" / "x.bin");
            TVaXModem xmodem;
            Watch(xmodem);
            xmodem.SetFileName((dir / "send" / "x.bin").string());
            xmodem.Execute();
            if (crc)
                Spawn(dir / "recv", {"rx", "-q", "-c", "x.bin"});
            else
                Spawn(dir / "recv", {"rx", "-q", "x.bin"});
            ASSERT_TRUE(PumpUntil([&] { return ended && ChildStatus() >= 0; }, 120000)) << ErrorsText();
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(ChildStatus(), 0);
            std::string got = slurp(dir / "recv" / "x.bin");
            ASSERT_GE(got.size(), n);
            EXPECT_LT(got.size(), n + 128);
            EXPECT_TRUE(got.substr(0, n) == data);
            EXPECT_EQ(got.find_first_not_of('\0', n), std::string::npos) << "padding is zeros";
        }
}

TEST_F(Transfer, XModemFromLrzszArrivesUpToThePaddingOfItsLastPacket) {
    if (!haveLrzsz())
        GTEST_SKIP() << "lrzsz not installed";
    for (TVaXProtocol protocol : {XModem, XModem1K})
        for (std::size_t n : kSizes) {
            SCOPED_TRACE(std::to_string(n) + (protocol == XModem ? " bytes, XModem" : " bytes, XModem1K"));
            ended = false;
            errors.clear();
            std::string data = randomBytes(n, static_cast<unsigned>(n) + 13);
            spit(dir / "send" / "x.bin", data);
            fs::remove(dir / "recv" / "x.bin");
            TVaXModem xmodem;
            Watch(xmodem);
            xmodem.SetProtocol(protocol);
            xmodem.SetMode(tmDownload);
            xmodem.SetFileName((dir / "recv" / "x.bin").string());
            xmodem.Execute();
            if (protocol == XModem1K)
                Spawn(dir / "send", {"sx", "-q", "-k", "x.bin"});
            else
                Spawn(dir / "send", {"sx", "-q", "x.bin"});
            ASSERT_TRUE(PumpUntil([&] { return ended && ChildStatus() >= 0; }, 120000)) << ErrorsText();
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(ChildStatus(), 0);
            std::string got = slurp(dir / "recv" / "x.bin");
            ASSERT_GE(got.size(), n);
            EXPECT_LT(got.size(), n + (protocol == XModem ? 128 : 1024));
            EXPECT_TRUE(got.substr(0, n) == data);
        }
}

// ---- edge cases against a scripted peer on the line ----

TEST_F(Transfer, ReceiverAcknowledgesARepeatedPacketOnceAndStopsAtAWrongNumber) {
    const std::string a = randomBytes(128, 1), b = randomBytes(128, 2);
    {
        TVaXModem xmodem;
        Watch(xmodem);
        xmodem.SetMode(tmDownload);
        xmodem.SetFileName((dir / "recv" / "x.bin").string());
        std::string replies;
        peer = std::thread([&] {
            replies += static_cast<char>(PeerByte()); // start character
            for (const std::string& p : {packet(1, a, false), packet(1, a, false), packet(2, b, false)}) {
                PeerWrite(p);
                replies += static_cast<char>(PeerByte());
            }
            PeerWrite(std::string(1, static_cast<char>(EOT)));
            replies += static_cast<char>(PeerByte());
        });
        xmodem.Execute();
        ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
        peer.join();
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(replies, std::string("\x15\x06\x06\x06\x06"));
        EXPECT_TRUE(slurp(dir / "recv" / "x.bin") == a + b) << "the repeated packet is not stored twice";
    }
    {
        ended = false;
        TVaXModem xmodem;
        Watch(xmodem);
        xmodem.SetMode(tmDownload);
        xmodem.SetFileName((dir / "recv" / "y.bin").string());
        std::string replies;
        peer = std::thread([&] {
            PeerByte();
            PeerWrite(packet(1, a, false));
            replies += static_cast<char>(PeerByte());
            PeerWrite(packet(3, b, false));
            replies += PeerRead(2);
        });
        xmodem.Execute();
        ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
        peer.join();
        EXPECT_EQ(exitCode, pcProtocol);
        EXPECT_EQ(replies, std::string("\x06\x18\x18"));
        EXPECT_FALSE(fs::exists(dir / "recv" / "y.bin")) << "an incomplete file is not left behind";
    }
}

TEST_F(Transfer, TheTenthFailedCheckEndsWithMaxErrors) {
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetMode(tmDownload);
    xmodem.SetProtocol(XModem1K);
    xmodem.SetFileName((dir / "recv" / "x.bin").string());
    std::string replies;
    peer = std::thread([&] {
        PeerByte();
        for (int i = 0; i < 10; ++i) {
            PeerWrite(packet(1, randomBytes(1024, 3), true, true));
            replies += static_cast<char>(PeerByte());
        }
        replies += static_cast<char>(PeerByte());
    });
    xmodem.Execute();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcMaxErrors);
    EXPECT_EQ(replies, std::string(9, static_cast<char>(NAK)) + "\x18\x18");
    ASSERT_EQ(errors.size(), 9u) << "the tenth ends the transfer instead of being reported";
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(errors[static_cast<std::size_t>(i)], std::make_pair(pcBadPacket, i + 1));
}

TEST_F(Transfer, MoreThanTheBufferBeforeTheThreadReadsEndsWithOverflow) {
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetMode(tmDownload);
    xmodem.SetFileName((dir / "recv" / "x.bin").string());
    std::size_t delivered = 0;
    port->OnRxBuf = [&](TVaCustomComm*, const std::uint8_t*, int n) { delivered += static_cast<std::size_t>(n); };
    std::string tail;
    // The transfer thread waits in OnFileInfo for the main thread, which meanwhile takes 5000 bytes off the
    // line.
    xmodem.OnFileInfo = [&](TVaXYModem*, const std::string&, std::int64_t) {
        peer = std::thread([&] { PeerWrite(std::string(5000, 'x')); });
        EXPECT_TRUE(PumpUntil([&] { return delivered >= 5000; }, 10000));
        peer.join();
        peer = std::thread([&] { tail = PeerRead(3); });
    };
    xmodem.Execute();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcOverflow);
    EXPECT_EQ(tail, std::string("\x15\x18\x18"));
}

TEST_F(Transfer, CancelSendsCanCanAndEndsWithMinus3) {
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetMode(tmDownload);
    xmodem.SetFileName((dir / "recv" / "x.bin").string());
    std::atomic<bool> asked{false};
    std::string got;
    peer = std::thread([&] {
        for (int b; (b = PeerByte(3000)) >= 0;) {
            got += static_cast<char>(b);
            asked = true;
            if (got.size() >= 2 && got.substr(got.size() - 2) == "\x18\x18")
                break;
        }
    });
    xmodem.Execute();
    EXPECT_TRUE(xmodem.IsActive());
    ASSERT_TRUE(PumpUntil([&] { return asked.load(); }));
    xmodem.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcCancelled);
    EXPECT_EQ(got.front(), static_cast<char>(NAK));
    EXPECT_EQ(got.substr(got.size() - 2), "\x18\x18");
    EXPECT_FALSE(xmodem.IsActive());
}

TEST_F(Transfer, SenderTakesANakedEotAndALostAckAndALostClosingAck) {
    TVaYModem ymodem;
    Watch(ymodem);
    ymodem.SetTimeout(1000);
    const std::string data = randomBytes(100, 4);
    spit(dir / "send" / "m.ktm", data);
    ymodem.SetFiles({(dir / "send" / "m.ktm").string()});
    std::string block0, block1, closing;
    std::string eots;
    ymodem.Execute(); // purges the line: the receiver starts after it
    peer = std::thread([&] {
        PeerWrite("C");
        block0 = PeerRead(133);
        PeerWrite(std::string(1, static_cast<char>(ACK)) + "C");
        block1 = PeerRead(133);
        PeerWrite(std::string(1, static_cast<char>(ACK)));
        eots += PeerRead(1);
        PeerWrite(std::string(1, static_cast<char>(NAK))); // "are you sure?"
        eots += PeerRead(1);
        PeerWrite("C"); // its ACK was lost: this receiver already asks for the next file
        closing = PeerRead(133);
        // ... and is gone before the closing block's ACK: nothing more is sent.
    });
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(errors.empty()) << ErrorsText();
    ASSERT_EQ(block0.size(), 133u);
    EXPECT_EQ(block0.substr(0, 3), "\x01\x00\xff"s) << "block 0 is a 128-byte block";
    EXPECT_EQ(block0.substr(3, 11), "m.ktm\0"
                                    "100\0\0"s);
    EXPECT_EQ(block1.substr(3, 100), data) << "a short tail goes in a 128-byte packet";
    EXPECT_EQ(eots, "\x04\x04");
    EXPECT_EQ(closing.substr(0, 4), "\x01\x00\xff\x00"s) << "the closing block 0 is empty";
}

// lrzsz's receiver empties its input right after each start character and so may throw away a packet that came
// quickly; it asks again with its start character some seconds later. The sender must send the packet again
// then, for block 0, for the first data packet and for the closing block 0, instead of waiting out its whole
// time-out each time the receiver repeats itself.
TEST_F(Transfer, SenderRepeatsTheFirstPacketsOfAFileWhenTheReceiverAsksAgain) {
    TVaYModem ymodem;
    Watch(ymodem);
    ymodem.SetTimeout(30000);
    const std::string data = randomBytes(1100, 6);
    spit(dir / "send" / "m.ktm", data);
    ymodem.SetFiles({(dir / "send" / "m.ktm").string()});
    std::string block0, block0Again, block1, block1Again, block2, eot, closing, closingAgain;
    const std::string ack(1, static_cast<char>(ACK));
    ymodem.Execute();
    peer = std::thread([&] {
        PeerWrite("C");
        block0 = PeerRead(133); // thrown away
        std::this_thread::sleep_for(300ms);
        PeerWrite("C");
        block0Again = PeerRead(133, 3000);
        PeerWrite(ack + "C");
        block1 = PeerRead(1029); // thrown away
        std::this_thread::sleep_for(300ms);
        PeerWrite("C");
        block1Again = PeerRead(1029, 3000);
        PeerWrite(ack);
        block2 = PeerRead(133, 3000);
        PeerWrite(ack);
        eot = PeerRead(1, 3000);
        PeerWrite(ack + "C");
        closing = PeerRead(133, 3000); // thrown away
        std::this_thread::sleep_for(300ms);
        PeerWrite("C");
        closingAgain = PeerRead(133, 3000);
        PeerWrite(ack);
    });
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, 0) << ErrorsText();
    EXPECT_EQ(block0Again, block0) << "block 0 again after the receiver's second start character";
    EXPECT_EQ(block1Again, block1) << "the first data packet again";
    EXPECT_EQ(block1.size(), 1029u);
    EXPECT_EQ(block1.substr(3, 1024), data.substr(0, 1024));
    EXPECT_EQ(block2.substr(3, 76), data.substr(1024)) << "the tail in a 128-byte packet";
    EXPECT_EQ(eot, "\x04");
    ASSERT_EQ(closing.size(), 133u);
    EXPECT_EQ(closingAgain, closing);
    EXPECT_EQ(closing.substr(0, 4), "\x01\x00\xff\x00"s);
    // Each repeat is counted as a refused packet, so a receiver that never takes one still ends the transfer.
    EXPECT_EQ(errors.size(), 3u) << ErrorsText();
    for (auto [code, count] : errors)
        EXPECT_EQ(code, pcBadPacket);
}

TEST_F(Transfer, ACanBetweenBlocksEndsTheSenderWithMinus4) {
    TVaXModem xmodem;
    Watch(xmodem);
    spit(dir / "send" / "x.bin", randomBytes(2000, 5));
    xmodem.SetFileName((dir / "send" / "x.bin").string());
    std::string first, again;
    xmodem.Execute();
    peer = std::thread([&] {
        PeerWrite("C");
        first = PeerRead(1029);
        PeerWrite(std::string(1, static_cast<char>(NAK)));
        again = PeerRead(1029);
        PeerWrite(std::string(2, static_cast<char>(CAN)));
    });
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcRemoteCancel);
    EXPECT_EQ(first.size(), 1029u);
    EXPECT_EQ(first, again) << "a NAK gets the same packet again";
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], std::make_pair(pcBadPacket, 1));
}

TEST_F(Transfer, FilesThatCannotBeOpenedOrCreatedEndTheTransfer) {
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetFileName((dir / "send" / "missing.bin").string());
    std::string got;
    peer = std::thread([&] { got = PeerRead(2); });
    xmodem.Execute();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcOpenFile);
    EXPECT_EQ(got, "\x18\x18");

    ended = false;
    xmodem.SetMode(tmDownload);
    xmodem.SetFileName((dir / "no" / "such" / "folder.bin").string());
    peer = std::thread([&] { got = PeerRead(2); });
    xmodem.Execute();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcCreateFile);
}

TEST_F(Transfer, DestroyingTheComponentMidTransferStopsItWithoutLateEvents) {
    auto ymodem = std::make_unique<TVaYModem>();
    Watch(*ymodem);
    ymodem->SetMode(tmDownload);
    ymodem->SetTargetFolder((dir / "recv").string());
    std::atomic<bool> asked{false};
    peer = std::thread([&] {
        if (PeerByte() == 'C')
            asked = true;
    });
    ymodem->Execute();
    ASSERT_TRUE(PumpUntil([&] { return asked.load(); }));
    ymodem.reset(); // the thread waits for a sender; it must end at once, not after its time-outs
    queue.ProcessEvents(50);
    EXPECT_FALSE(ended) << "no end event from a component that is gone";
}

TEST_F(Transfer, ReceiverAsksAgainForAPacketCutShortAndHandlerErrorsDoNotStopIt) {
    const std::string a = randomBytes(128, 6);
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetTimeout(300);
    xmodem.SetMode(tmDownload);
    xmodem.SetFileName((dir / "recv" / "x.bin").string());
    xmodem.OnPacketEvent = [](TVaXYModem*, int, std::int64_t) { throw std::runtime_error("handler failed"); };
    std::string replies;
    peer = std::thread([&] {
        PeerByte();
        PeerWrite(packet(1, a, false).substr(0, 60)); // the rest is lost on the line
        replies += static_cast<char>(PeerByte());
        PeerWrite(packet(1, a, false));
        replies += static_cast<char>(PeerByte());
        PeerWrite(std::string(1, static_cast<char>(EOT)));
        replies += static_cast<char>(PeerByte());
    });
    xmodem.Execute();
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(replies, "\x15\x06\x06");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, pcTimeout);
    EXPECT_TRUE(slurp(dir / "recv" / "x.bin") == a);
    ASSERT_EQ(exceptions.size(), 1u) << "reported through the application's handler";
    EXPECT_EQ(exceptions[0], "handler failed");
    exceptions.clear();
}

TEST_F(Transfer, AnXModemReceiverSilentAtTheEotFailsTheSenderWithoutAHang) {
    TVaXModem xmodem;
    Watch(xmodem);
    xmodem.SetTimeout(300);
    spit(dir / "send" / "x.bin", randomBytes(100, 7));
    xmodem.SetFileName((dir / "send" / "x.bin").string());
    std::string eots;
    xmodem.Execute();
    peer = std::thread([&] {
        PeerWrite(std::string(1, static_cast<char>(NAK)));
        PeerRead(132);
        PeerWrite(std::string(1, static_cast<char>(ACK)));
        eots = PeerRead(3, 3000); // and never an answer
    });
    ASSERT_TRUE(PumpUntil([&] { return ended; })) << ErrorsText();
    peer.join();
    EXPECT_EQ(exitCode, pcProtocol) << "a lost last ACK and a failed receiver look the same: no success claimed";
    EXPECT_EQ(eots.substr(0, 3), "\x04\x04\x04");
    EXPECT_TRUE(errors.empty()) << ErrorsText();
}

} // namespace
