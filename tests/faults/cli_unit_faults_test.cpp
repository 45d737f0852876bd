// zirezid-cli's device commands against a misbehaving simulated unit: line noise, lost bytes, a silent unit, a
// busy one, one that drops the line in the middle of a block transfer, one that refuses values, and a second
// program on the same port. Every fault is seeded. Whatever happens: no crash, no hang, a failed read leaves the
// settings file and the messages folder as they were, and what the command reports is what happened.
#include "tests/support/unitsim_process.h"
#include "tests/support/wav_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

struct CliRun {
    int status = -1; // exit status; -1 for a crash (a signal)
    std::string out, err;
};

// A 16-bit mono PCM WAV at 8000 Hz.
std::string wavBytes(int samples) {
    return testwav::pcm16Mono(samples, [](int i) { return static_cast<std::int16_t>(((i * 53) % 3000 - 1500) * 6); });
}

// Waits until another process holds the port's lock, the way the port makes itself exclusive.
bool waitUntilHeld(const std::string& port) {
    for (int i = 0; i < 2000; ++i) {
        const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            ::close(fd);
            if (held)
                return true;
        }
        ::usleep(5000);
    }
    return false;
}

class CliFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
        // The local side holds a message of its own for menu 0, which only a good download may replace.
        writeFile(localMessage(), wavBytes(40000));
        ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message old.wav").status, 0);
        // The unit's side: system parameters that differ from a new database, and a message for menu 0.
        writeFile(dir.path() / "unit" / "objects" / "SYSPARAM.txt", "NRingsToPickup=6\n");
        writeFile(dir.path() / "unit" / "messages" / "50001" / "greeting.ktm", std::string(20000, '\x37'));
    }

    void startUnit(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"--state",       (dir.path() / "unit").string(), "--link", port(), "--log",
                                      file("unit.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        unit = std::make_unique<unitsim_test::UnitsimProcess>(args);
        ASSERT_TRUE(unit->readLine().has_value());
    }

    // Runs zirezid-cli under a guard: a run that has not ended after two minutes hangs, which the time-outs of
    // the link (a few seconds each) must never let happen.
    CliRun cli(const std::string& args) {
        const std::string out = file("cli.out"), err = file("cli.err");
        const std::string command =
            "timeout -s KILL 120 " + std::string(ZIREZID_CLI) + " " + args + " >" + out + " 2>" + err;
        const int st = std::system(command.c_str());
        CliRun r;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = readFile(out);
        r.err = readFile(err);
        EXPECT_NE(r.status, 137) << "zirezid-cli " << args << " hangs";
        EXPECT_NE(r.status, -1) << "zirezid-cli " << args << " crashed";
        return r;
    }

    std::string port() const { return (dir.path() / "tty").string(); }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    fs::path localMessage() const { return dir.path() / "site.messages" / "50001" / "old.wav"; }

    // A read that failed changed nothing on the computer.
    void expectNothingChanged(const std::string& fileBefore, const std::string& messageBefore) {
        EXPECT_EQ(readFile(file("site.qor")), fileBefore);
        EXPECT_EQ(readFile(localMessage()), messageBefore);
        std::size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "site.messages"))
            files += entry.is_regular_file();
        EXPECT_EQ(files, 1u) << "a failed download left a file in the messages folder";
    }

    unitsim_test::TempDir dir;
    std::unique_ptr<unitsim_test::UnitsimProcess> unit;
};

TEST_F(CliFaults, NoiseOnTheWholeLineNeverCrashesAndAFailedReadChangesNothing) {
    const std::string before = readFile(file("site.qor")), message = readFile(localMessage());
    int failed = 0;
    for (const char* seed : {"1", "2", "3", "4"}) {
        startUnit({"--drop", "0.01", "--corrupt", "0.01", "--seed", seed, "--once"});
        const CliRun r = cli("read --port " + port() + " --on-error skip --objects SYSPARAM,TIMETABLE,'MENU(3)' " +
                             file("site.qor"));
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "seed " << seed << ": " << r.err;
        if (r.status != 0) {
            ++failed;
            expectNothingChanged(before, message);
        } else {
            // The object text carries no check sum, so a changed digit can pass; the file must still load.
            EXPECT_EQ(cli("check " + file("site.qor")).status, 0) << "seed " << seed;
            // A success never hides a field the unit sent out of range: that read ends as a failure.
            for (const char* refusal :
                 {"Вне допустимого диапазона значений", "Недопустимая длина строки", "Недопустимый символ"})
                EXPECT_EQ(r.err.find(refusal), std::string::npos) << "seed " << seed << ": " << r.err;
            for (const char* name : {"SYSPARAM: OK", "TIMETABLE: OK", "MENU(3): OK"})
                EXPECT_NE(r.err.find(name), std::string::npos) << "seed " << seed << ": " << r.err;
            ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
            ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message old.wav").status, 0);
        }
        unit.reset();
    }
    RecordProperty("failed_reads", failed);
}

TEST_F(CliFaults, AFieldTheUnitSentOutOfRangeFailsTheReadAndChangesNothing) {
    // Seed 1 changes a digit of an answer into a value its field refuses (found by trying seeds): the field is
    // shown and keeps its value, so the read as a whole did not succeed and must not be saved as if it had.
    const std::string before = readFile(file("site.qor")), message = readFile(localMessage());
    startUnit({"--corrupt", "0.01", "--fault-dir", "out", "--seed", "1", "--once"});
    const CliRun r =
        cli("read --port " + port() + " --on-error skip --objects SYSPARAM,TIMETABLE,'MENU(3)' " + file("site.qor"));
    unit.reset();
    const bool refused = r.err.find("Вне допустимого диапазона значений") != std::string::npos ||
                         r.err.find("Недопустимая длина строки") != std::string::npos ||
                         r.err.find("Недопустимый символ") != std::string::npos;
    ASSERT_TRUE(refused) << "the seed no longer damages a field: " << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    expectNothingChanged(before, message);
}

TEST_F(CliFaults, NoiseInsideTransfersIsRepairedOrReportedTruthfully) {
    const std::string before = readFile(file("site.qor")), message = readFile(localMessage());
    for (const char* seed : {"5", "6"}) {
        startUnit({"--drop", "0.0002", "--corrupt", "0.0002", "--fault-scope", "transfer", "--seed", seed, "--once"});
        const CliRun r = cli("read --port " + port() + " --messages --objects SYSPARAM,'MENU(0)' " + file("site.qor"));
        unit.reset();
        if (r.status == 0) {
            // The block CRC protects transfers: a download that reports success brought the unit's file.
            EXPECT_NE(r.err.find("MENU(0): OK"), std::string::npos) << r.err;
            EXPECT_EQ(fs::file_size(dir.path() / "site.messages" / "50001" / "greeting.wav"), 44u + 4 * 20000u);
            ASSERT_EQ(cli("get " + file("site.qor") + " SYSPARAM NRingsToPickup").out, "6\n");
            return;
        }
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err.find("MENU(0): OK"), std::string::npos) << r.err;
        expectNothingChanged(before, message);
    }
}

TEST_F(CliFaults, AUnitThatDropsTheLineInADownloadLeavesEverythingAsItWas) {
    const std::string before = readFile(file("site.qor")), message = readFile(localMessage());
    startUnit({"--hangup-after", "5000"});
    const CliRun r = cli("read --port " + port() + " --messages --objects SYSPARAM,'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("SYSPARAM: OK"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("MENU(0): OK"), std::string::npos) << r.err;
    expectNothingChanged(before, message);
    // The unit is back on a new line and serves the next read whole.
    const CliRun again = cli("read --port " + port() + " --objects SYSPARAM " + file("site.qor"));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(cli("get " + file("site.qor") + " SYSPARAM NRingsToPickup").out, "6\n");
}

TEST_F(CliFaults, AUnitThatDropsTheLineInAnUploadKeepsNoHalfFile) {
    fs::remove_all(dir.path() / "unit" / "messages" / "50001");
    startUnit({"--hangup-after", "3000"});
    const CliRun r = cli("write --port " + port() + " --objects 'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("MENU(0): OK"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "unit" / "messages" / "50001")) << "the unit kept a broken upload";
    EXPECT_TRUE(fs::exists(localMessage()));
}

TEST_F(CliFaults, SilentAndBusyUnitsFailTheReadAndChangeNothing) {
    const std::string before = readFile(file("site.qor")), message = readFile(localMessage());
    for (const char* fault : {"--mute", "--busy"}) {
        startUnit({fault});
        const CliRun r = cli("read --port " + port() + " --messages " + file("site.qor"));
        EXPECT_EQ(r.status, 1) << fault << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << fault << ": the failure is not reported";
        EXPECT_EQ(r.err.find(": OK"), std::string::npos) << fault << ": " << r.err;
        expectNothingChanged(before, message);
        unit.reset();
    }
}

TEST_F(CliFaults, RefusedValuesAreReportedPerObjectAndTheRestIsWritten) {
    startUnit({});
    ASSERT_EQ(cli("set " + file("site.qor") + " 'MENU(1)' Desc 'меню #1'").status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " 'MENU(2)' Desc 'второе'").status, 0);
    const std::string unitMenu1 = readFile(dir.path() / "unit" / "objects" / "MENU(1).txt");
    const CliRun r =
        cli("write --port " + port() + " --on-error skip --objects 'MENU(1)','MENU(2)' " + file("site.qor"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("MENU(1): OK"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("MENU(2): OK"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir.path() / "unit" / "objects" / "MENU(1).txt"), unitMenu1);
    EXPECT_NE(readFile(dir.path() / "unit" / "objects" / "MENU(2).txt").find("'второе'"), std::string::npos);
}

TEST_F(CliFaults, ASecondProgramOnThePortIsRefusedAndTheFirstIsUndisturbed) {
    // A slow line keeps the first read busy long enough for the second to try the port.
    startUnit({"--baud", "9600"});
    ASSERT_EQ(cli("new " + file("first.qor")).status, 0);
    std::vector<std::string> args{ZIREZID_CLI, "read", "--port", port(), file("first.qor")};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, file("first.err").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t first = -1;
    ASSERT_EQ(posix_spawn(&first, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(waitUntilHeld(port())) << "the first program never opened the port";

    const CliRun second = cli("read --port " + port() + " " + file("site.qor"));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("Не удалось открыть COM порт"), std::string::npos) << second.err;

    int status = 0;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(file("first.err"));
    EXPECT_EQ(cli("get " + file("first.qor") + " SYSPARAM NRingsToPickup").out, "6\n");
}

} // namespace
