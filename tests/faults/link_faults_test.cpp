// The device link against a unit that misbehaves on the line: played by the test on a pseudo-terminal where the
// simulated unit cannot play the fault, and the simulated unit under zirezid-cli where it can. Whatever the
// unit does, a job ends with one true result, promptly, without a spinning core.
#include "tests/link/link_fixture.h"
#include "tests/support/unitsim_process.h"

#include "link/answer.h"
#include "link/crc16.h"
#include "model/tables.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <fstream>

using namespace devlink;
namespace fs = std::filesystem;

namespace {

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double childrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

// Block 0 of a file of the given size.
std::string headerBlock(const std::string& name, long long size) {
    std::string h = name;
    h += '\0';
    h += std::to_string(size);
    return block(0, h, false);
}

// The unit's side of a download up to the first data block: " dl ", START, "C", block 0 and its ACK and "C".
// False when the link sent no " dl " within the limit (it gave up, or the test ended).
bool startDownload(Peer& p, const std::string& name, long long size, const std::string& start = "START",
                   int limitMs = 8000) {
    if (p.readUntil(" dl ", limitMs).find(" dl ") == std::string::npos)
        return false;
    p.readUntil(" ", 500);
    p.write(start);
    p.readUntil("C");
    p.write(headerBlock(name, size));
    p.readUntil("C");
    return true;
}

} // namespace

class LinkFaults : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        queue.OnException = [this](std::exception_ptr) { ++exceptions; };
        object.description = "системные параметры";
        object.valueText = "0";
    }
    // The unit's end of the line goes away, as when the adapter is pulled or the unit loses power.
    void hangUp() {
        ::close(master);
        master = -1;
    }
    KT_TABLE_SYSPARAM object;
    std::atomic<int> exceptions{0};
};

TEST_F(LinkFaults, AGoneDeviceEndsTheExchangeWithOneMessageAndTheThreadsRest) {
    runPeer([this](Peer& p) {
        p.readUntil("geto 0 ");
        hangUp();
    });
    std::string payload;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->readObject(object, payload), dcStop);
    joinPeer();
    // Not the three time-outs of a silent unit and their question: the device is gone, and nothing repeats.
    EXPECT_LT(msSince(start), 900);
    EXPECT_TRUE(ui->questions.empty());
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0], text::lineLost);
    EXPECT_TRUE(link->lineLost());

    // Idle on the dead line: no error reports, no busy thread.
    const double cpuBefore = processCpuSeconds();
    start = std::chrono::steady_clock::now();
    while (msSince(start) < 1000)
        queue.ProcessEvents(20);
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.1) << "a thread spins on the hung-up device";
    EXPECT_EQ(exceptions.load(), 0) << queue.LastExceptionText();
    EXPECT_EQ(ui->lineLosses, 1);

    // A further job ends at once, without another message; closing does not wait for a logout.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->setObjectChecked(object, "1 "), dcStop);
    EXPECT_EQ(ui->messages.size(), 1u);
    link->closeSession();
    EXPECT_LT(msSince(start), 500);
    EXPECT_FALSE(link->VaComm1->Active());
    EXPECT_EQ(exceptions.load(), 0) << queue.LastExceptionText();
}

TEST_F(LinkFaults, AGoneDeviceInABlockTransferEndsItAndTheWritesQueuedMeanwhileRaiseNothing) {
    runPeer([this](Peer& p) {
        p.readUntil(" dl ");
        p.readUntil(" ", 500);
        p.write("START");
        p.readUntil("C");
        hangUp();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcStop);
    joinPeer();
    EXPECT_LT(msSince(start), 1500);
    EXPECT_TRUE(ui->questions.empty());
    EXPECT_EQ(ui->messages, std::vector<std::string>{text::lineLost});
    // Writing to the gone device neither raises nor waits for room.
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        link->VaComm1->WriteText(std::string(4000, 'x'));
    EXPECT_FALSE(link->VaComm1->Drain());
    EXPECT_LT(msSince(start), 500);
    queue.ProcessEvents(50);
    EXPECT_EQ(exceptions.load(), 0) << queue.LastExceptionText();
}

// zirezid-cli and the simulated unit dropping the line in the middle of an upload.
TEST(CliLineFaults, ALostLineIsSaidOnceInRussianWithoutErrorReportsOrABusyCore) {
    unitsim_test::TempDir dir;
    const std::string port = dir.str() + "/tty";
    unitsim_test::UnitsimProcess unit({"--state", dir.str() + "/unit", "--link", port, "--hangup-after", "3000"},
                                      UNITSIM_BINARY);
    ASSERT_TRUE(unit.readLine().has_value());
    const std::string cli = ZIREZID_CLI;
    const std::string site = dir.str() + "/site.qor";
    ASSERT_EQ(std::system((cli + " new " + site + " >/dev/null").c_str()), 0);
    fs::create_directories(dir.str() + "/site.messages/50001");
    {
        // A 5 s message: far more than the 3000 bytes the unit lets through.
        std::ofstream wav(dir.str() + "/site.messages/50001/m.wav", std::ios::binary);
        std::string s = "RIFF";
        auto u32 = [&](std::uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); };
        const std::uint32_t samples = 40000;
        u32(36 + 2 * samples);
        s += "WAVEfmt ";
        u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
        s += "data";
        u32(2 * samples);
        for (std::uint32_t i = 0; i < samples; ++i)
            u16(static_cast<std::uint16_t>((i * 37) % 5000));
        wav << s;
    }
    ASSERT_EQ(std::system((cli + " set --stored " + site + " 'MENU(0)' Message m.wav >/dev/null").c_str()), 0);
    const double cpuBefore = childrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int st = std::system(("timeout -s KILL 60 " + cli + " write --port " + port + " --objects 'MENU(0)' " + site +
                                " >/dev/null 2>" + dir.str() + "/err")
                                   .c_str());
    const double cpu = childrenCpuSeconds() - cpuBefore;
    const std::string err = readFile(dir.str() + "/err");
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 1) << err;
    EXPECT_EQ(count(err, text::lineLost), 1u) << err;
    EXPECT_EQ(err.find("Error retrieving statistics"), std::string::npos) << err;
    EXPECT_EQ(err.find("MENU(0): OK"), std::string::npos) << err;
    EXPECT_LT(msSince(start), 10000) << err;
    EXPECT_LT(cpu, 1.0) << "zirezid-cli burnt the processor on the dead line";
}

TEST_F(LinkFaults, StopInADownloadOfBlocksFullOfPromptsEndsTheJobAndNothingRepeats) {
    std::atomic<int> acked{0}, downloads{0};
    std::atomic<bool> done{false};
    runPeer([&](Peer& p) {
        if (!startDownload(p, "m.ktm", 40 * 1024))
            return;
        ++downloads;
        // Blocks of "#", written in pieces as a line at 38400 bit/s brings them, so that the Stop comes in the
        // middle of one; after the cancel the unit finishes the block in flight and answers.
        bool cancelled = false;
        for (int n = 1; n <= 40 && !cancelled; ++n) {
            const std::string b = block(static_cast<std::uint8_t>(n), std::string(1024, '#'), true);
            // The block's ACK may come while its last piece is still being looked after; it is the one awaited,
            // and waiting for another would race the link's own time-out for the next block.
            bool answered = false;
            auto take = [&](int c) {
                if (c == ACK) {
                    ++acked;
                    answered = true;
                }
                if (c == CAN)
                    cancelled = true;
            };
            for (std::size_t at = 0; at < b.size(); at += 64) {
                p.write(b.substr(at, 64));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                for (int c; (c = p.readByte(0)) >= 0;)
                    take(c);
            }
            for (int c; !answered && !cancelled && (c = p.readByte(3000)) >= 0;)
                take(c);
        }
        p.write("\x18\x18\r\nERR 17\r\n#");
        // Whatever the link sends from now on: another download would be the stopped job coming back.
        while (!done)
            if (p.readUntil(" dl ", 100).find(" dl ") != std::string::npos)
                ++downloads;
    });
    std::chrono::steady_clock::time_point stopped{};
    ui->onEvents = [&] {
        if (acked >= 2 && !link->stopFlag) {
            link->bt_StopClick();
            stopped = std::chrono::steady_clock::now();
        }
    };
    EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcStopped)
        << "blocks acknowledged: " << acked << "; asked: " << testing::PrintToString(ui->questions);
    const auto latency = msSince(stopped);
    ui->onEvents = nullptr;
    done = true;
    joinPeer();
    // The next job on the same line gets its own answer, not the unit's answer to the cancel.
    runPeer([](Peer& p) {
        p.readUntil("geto 0 ");
        p.write("7316 0 12 OK\r\n#");
    });
    link->linkObjects = {{"", &object}};
    EXPECT_EQ(link->readAll(), 1);
    joinPeer();
    ASSERT_EQ(link->pendingAnswers.size(), 1u);
    EXPECT_EQ(link->pendingAnswers[0], "7316 0 12");
    EXPECT_LT(latency, 1500) << "the Stop took long to end the download";
    EXPECT_EQ(downloads.load(), 1) << "the stopped download was run again";
    EXPECT_EQ(ui->messages, std::vector<std::string>{text::stopped});
    EXPECT_TRUE(ui->questions.empty());
}

TEST_F(LinkFaults, ADownloadGivenUpOnDamagedBlocksSaysSoWhenTheClosingAnswerIsLost) {
    runPeer([](Peer& p) {
        // Every run of the three: each block damaged, and the unit's answer to the cancel lost on the line.
        for (int run = 0; run < 3 && startDownload(p, "m.ktm", 4096, "START", 12000); ++run) {
            for (int sent = 0; sent < 30; ++sent) {
                p.write(block(1, std::string(1024, 'x'), true, true));
                int reply = 0;
                do
                    reply = p.readByte(1500);
                while (reply >= 0 && reply != NAK && reply != CAN);
                if (reply != NAK)
                    break;
            }
        }
    });
    ui->abortRetryIgnore = {mrIgnore};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcSkip);
    const auto took = msSince(start);
    joinPeer();
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0], std::string("системные параметры: ") + text::fileTooManyErrors);
    EXPECT_LT(took, 15000);
}

TEST_F(LinkFaults, AReceiverHoldsTheSenderToTheAnnouncedSize) {
    // Each case plays every run of the link's recovery the same way; the link must end each run with a failure
    // of the file (no "OK", no file) and without taking the unit's lies for ever.
    struct Case {
        const char* what;
        std::function<void(Peer&)> afterHeader;
    };
    std::atomic<int> blocksSent{0};
    const std::string data(1024, 'd');
    const std::vector<Case> cases = {
        {"shorter than announced, then EOT and OK",
         [&](Peer& p) {
             for (int n = 1; n <= 2; ++n) {
                 p.write(block(static_cast<std::uint8_t>(n), data, true));
                 p.readCount(1);
             }
             p.write(std::string(1, static_cast<char>(EOT)));
             p.readCount(2, 500);
             p.write(block(0, "", false));
             p.readCount(1, 500);
             p.write("OK\r\n#");
         }},
        {"the same block again and again",
         [&](Peer& p) {
             for (int i = 0; i < 200; ++i, ++blocksSent) {
                 p.write(block(1, data, true));
                 if (p.readCount(1, 1000) != std::string(1, static_cast<char>(ACK)))
                     break;
             }
             p.write("\r\nERR 17\r\n#");
         }},
        {"blocks beyond the announced size",
         [&](Peer& p) {
             for (int n = 1; n < 200; ++n, ++blocksSent) {
                 p.write(block(static_cast<std::uint8_t>(n), data, true));
                 if (p.readCount(1, 1000) != std::string(1, static_cast<char>(ACK)))
                     break;
             }
             p.write("\r\nERR 17\r\n#");
         }},
    };
    // A file that arrives is stored as it came, so a truncated one would be seen.
    link->soundConverter = [](const std::string& in, const std::string& out, bool) {
        fs::copy_file(in, out);
        return 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        blocksSent = 0;
        runPeer([&](Peer& p) {
            for (int run = 0; run < 3; ++run) {
                if (!startDownload(p, "m.ktm", 7999))
                    return;
                c.afterHeader(p);
            }
        });
        ui->questions.clear();
        ui->abortRetryIgnore = {mrIgnore};
        EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcSkip);
        joinPeer();
        ASSERT_EQ(ui->questions.size(), 1u);
        EXPECT_EQ(ui->questions[0].find("OK"), std::string::npos) << ui->questions[0];
        EXPECT_FALSE(fs::exists(tempDir + "m/m.wav"));
        EXPECT_FALSE(fs::exists(tempDir + "m.ktm"));
        // Ten repeats or one block too many end a run; three runs are well below the two hundred offered.
        EXPECT_LT(blocksSent.load(), 40);
    }
}

TEST_F(LinkFaults, NoFileIsOnlyTheWholeAnswerAndNotADashInNoise) {
    const std::string file = std::string(3000, 'k');
    runPeer([&](Peer& p) {
        if (!startDownload(p, "m.ktm", static_cast<long long>(file.size()), "\x07-\x03START"))
            return;
        for (int n = 1; n <= 3; ++n) {
            p.write(block(static_cast<std::uint8_t>(n), file.substr((n - 1) * 1024, 1024), true));
            p.readCount(1);
        }
        p.write(std::string(1, static_cast<char>(EOT)));
        p.readCount(2);
        p.write(block(0, "", false));
        p.readCount(1);
        p.write("OK\r\n#");
    });
    link->soundConverter = [](const std::string& in, const std::string& out, bool) {
        fs::copy_file(in, out);
        return 0;
    };
    EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcDone);
    joinPeer();
    EXPECT_EQ(readFile(tempDir + "m/m.wav"), file) << "the download was taken for the unit's \"no file\"";
    EXPECT_TRUE(ui->questions.empty());
}

TEST_F(LinkFaults, ALateAnswerAfterATimeOutStaysWithItsObject) {
    KT_TABLE_SYSPARAM first, second;
    first.description = "первый";
    first.valueText = "11";
    second.description = "второй";
    second.valueText = "12";
    std::atomic<bool> done{false};
    runPeer([&](Peer& p) {
        // The unit answers everything to object 11 too late for the link's time-out, and object 12 at once:
        // its values to "geto", a refusal to "seto".
        std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> due;
        std::string heard;
        while (!done || !due.empty()) {
            const int c = p.readByte(10);
            if (c >= 0)
                heard += static_cast<char>(c);
            const auto now = std::chrono::steady_clock::now();
            for (const auto& [command, delay, reply] :
                 std::vector<std::tuple<std::string, int, std::string>>{{"geto 11 ", 1300, "11 11 11 OK\r\n#"},
                                                                        {"geto 12 ", 20, "12 12 12 OK\r\n#"},
                                                                        {"seto 11 ", 1300, "OK\r\n#"},
                                                                        {"seto 12 ", 20, "ERR 3\r\n#"}}) {
                if (const auto at = heard.find(command); at != std::string::npos) {
                    heard.erase(0, at + command.size());
                    due.emplace_back(now + std::chrono::milliseconds(delay), reply);
                }
            }
            for (auto it = due.begin(); it != due.end();) {
                if (it->first <= now) {
                    p.write(it->second);
                    it = due.erase(it);
                } else {
                    ++it;
                }
            }
        }
    });
    ui->abortRetryIgnore = {mrIgnore, mrIgnore, mrIgnore, mrIgnore};
    std::string payload;
    EXPECT_EQ(link->readObject(first, payload), dcSkip);
    EXPECT_EQ(link->readObject(second, payload), dcDone);
    EXPECT_EQ(payload, "12 12 12") << "the first object's late answer was taken for the second's";
    EXPECT_EQ(link->setObjectChecked(first, "1 "), dcSkip);
    EXPECT_EQ(link->setObjectChecked(second, "1 "), dcSkip) << "a late OK passed for a refused value";
    done = true;
    joinPeer();
    ASSERT_EQ(ui->questions.size(), 3u);
    EXPECT_EQ(ui->questions[0], "первый: Нет ответа от устройства");
    EXPECT_EQ(ui->questions[1], "первый: Нет ответа от устройства");
    EXPECT_EQ(ui->questions[2], "второй: Неверное значение поля");
}

TEST_F(LinkFaults, BytesWrittenJustBeforeCloseReachTheLine) {
    const std::string logout = std::string(3000, 'a') + "\r";
    std::atomic<std::size_t> got{0};
    std::atomic<bool> done{false};
    runPeer([&](Peer& p) {
        for (;;) {
            const int c = p.readByte(done ? 200 : 20);
            if (c >= 0)
                ++got;
            else if (done)
                break;
        }
    });
    serial::TVaComm& port = *link->VaComm1;
    for (int round = 0; round < 10; ++round) {
        if (!port.Active())
            port.Open();
        port.WriteText(logout);
        const auto start = std::chrono::steady_clock::now();
        port.Close();
        // Bounded by the bytes' line time at 38400 bit/s (under a second) and a short margin.
        EXPECT_LT(msSince(start), 1500);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
    joinPeer();
    EXPECT_EQ(got.load(), 10 * logout.size()) << "Close dropped bytes still queued for the line";
}

TEST(AnswerParser, IsLinearInTheTextBeforeThePrompt) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "ab O ";
    text += "7316 OK\r\n#";
    const auto start = std::chrono::steady_clock::now();
    const Answer a = parseAnswer(text);
    EXPECT_LT(msSince(start), 200);
    ASSERT_TRUE(a.complete);
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.payload.size(), text.size() - 6);
    EXPECT_EQ(a.payload.substr(a.payload.size() - 4), "7316");
}

// The simulated unit itself: a line end after noise ends the noise, not the command behind it.
TEST(UnitsimLine, NoiseAndALineEndBeforeACommandLeaveTheCommandItsAnswer) {
    unitsim_test::TempDir dir;
    unitsim_test::UnitsimProcess unit({"--state", dir.str() + "/unit"}, UNITSIM_BINARY);
    const auto path = unit.readLine();
    ASSERT_TRUE(path.has_value());
    const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    Peer p(fd);
    p.write(" quit\r");
    ASSERT_NE(p.readUntil("Password:").find("Password:"), std::string::npos);
    p.write("7316\r");
    ASSERT_NE(p.readUntil("#").find('#'), std::string::npos);
    std::string noise;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise += static_cast<char>((seed >> 16) & 0xFF);
    }
    for (const char* end : {"\r\n", "\r", "\n"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        p.write(noise + end + " geto 0 ");
        const std::string got = p.readUntil("7316 0 12", 3000);
        EXPECT_NE(got.find("7316 0 12"), std::string::npos) << got;
        p.readUntil("#", 1000);
    }
    ::close(fd);
}
