// zirezid-cli's device commands against unitsim.
#include "unit_fixture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

CliRun runCli(const std::string& args, const fs::path& dir) {
    const fs::path out = dir / "cli.out", err = dir / "cli.err";
    const std::string command = std::string(ZIREZID_CLI) + " " + args + " >" + out.string() + " 2>" + err.string();
    const int st = std::system(command.c_str());
    CliRun r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = readAllOf(out);
    r.err = readAllOf(err);
    return r;
}

} // namespace

class Cli : public ::testing::Test {
protected:
    void startUnit(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--state", (dir.path() / "unit").string(), "--link", port()};
        args.insert(args.end(), extra.begin(), extra.end());
        unit = std::make_unique<unitsim_test::UnitsimProcess>(args);
        ASSERT_TRUE(unit->readLine().has_value());
    }
    std::string port() const { return (dir.path() / "tty").string(); }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }
    CliRun cli(const std::string& args) { return runCli(args, dir.path()); }

    unitsim_test::TempDir dir;
    std::unique_ptr<unitsim_test::UnitsimProcess> unit;
};

TEST_F(Cli, InfoPrintsTheDeviceInformation) {
    startUnit({"--serial", "777"});
    const CliRun r = cli("info --port " + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SerialNum=777\n"), std::string::npos) << r.out;
    EXPECT_EQ(cli("info --port " + port() + " --password 99").status, 1);
    // COMn goes through the port number and its ZIREZID_COMn mapping.
    setenv("ZIREZID_COM7", port().c_str(), 1);
    const CliRun byNumber = cli("info --port COM7");
    unsetenv("ZIREZID_COM7");
    EXPECT_EQ(byNumber.status, 0) << byNumber.err;
    EXPECT_NE(byNumber.out.find("SerialNum=777\n"), std::string::npos);
    EXPECT_EQ(cli("info").status, 2);
    EXPECT_EQ(cli("info --port " + port() + " --bogus 1").status, 2);
}

// The command line gets what the window gets when another program holds the port: who holds it, not just that
// the open failed.
TEST_F(Cli, APortAnotherProgramHoldsIsExplainedWithItsHolder) {
    startUnit();
    const std::string device = fs::canonical(port()).string();
    const fs::path started = dir.path() / "held";
    // flock(1) runs its command only once it holds the lock; the command says so and keeps it until killed.
    // Only flock itself holds the port (--close), as the window's check expects of a terminal program.
    const std::string holder = "flock --exclusive --close " + device + " sh -c 'echo $$ >" + started.string() +
                               "; exec sleep 30' >/dev/null 2>&1 & echo $!";
    FILE* pipe = popen(holder.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    long pid = 0;
    ASSERT_EQ(std::fscanf(pipe, "%ld", &pid), 1);
    pclose(pipe);
    for (int i = 0; i < 200 && readAllOf(started).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(readAllOf(started).empty());
    const CliRun busy = cli("info --port " + port());
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ::kill(static_cast<pid_t>(std::stol(readAllOf(started))), SIGTERM);
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("Не удалось открыть COM порт."), std::string::npos) << busy.err;
    EXPECT_NE(busy.err.find("занят: его держит открытым «flock» (PID " + std::to_string(pid) + ")"), std::string::npos)
        << busy.err;
    // Once it lets go the same port opens.
    for (int i = 0; i < 200 && std::system(("flock --nonblock " + device + " true").c_str()) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const CliRun free = cli("info --port " + port());
    EXPECT_EQ(free.status, 0) << free.err;
}

TEST_F(Cli, WriteThenReadWithMessagesAndTheReplaceAnswer) {
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    ASSERT_EQ(cli("set " + file("site.qor") + " SYSPARAM NRingsToPickup 6").status, 0);
    fs::create_directories(file("site.messages/50001"));
    writeWav(file("site.messages/50001/hi.wav"), 8000, 4000);
    ASSERT_EQ(cli("set --stored " + file("site.qor") + " 'MENU(0)' Message hi.wav").status, 0);
    CliRun w = cli("write --port " + port() + " --objects SYSPARAM,'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_TRUE(fs::exists(dir.path() / "unit" / "messages" / "50001" / "hi.ktm"));
    // The unit holds the file now: "--replace no" keeps it and still succeeds.
    w = cli("write --port " + port() + " --objects 'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_NE(w.err.find("Файл уже существует. Заменить?"), std::string::npos) << w.err;

    ASSERT_EQ(cli("new " + file("copy.qor")).status, 0);
    const CliRun r = cli("read --port " + port() + " --messages --objects SYSPARAM,MENUS " + file("copy.qor"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cli("get " + file("copy.qor") + " SYSPARAM NRingsToPickup").out, "6\n");
    const auto onUnit = fs::file_size(dir.path() / "unit" / "messages" / "50001" / "hi.ktm");
    EXPECT_EQ(fs::file_size(file("copy.messages/50001/hi.wav")), 44u + 4 * (onUnit & ~std::uintmax_t{1}));
}

TEST_F(Cli, AFailedReadChangesNothingOnDisk) {
    startUnit();
    ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
    const std::string before = readAllOf(file("site.qor"));
    const CliRun r = cli("read --port " + port() + " --password 00 " + file("site.qor"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readAllOf(file("site.qor")), before);
    EXPECT_EQ(cli("read --port " + port() + " --objects NOSUCH " + file("site.qor")).status, 2);
}

TEST_F(Cli, ReadOfObjectsTheUnitDoesNotKnowFailsAndSavesNothing) {
    startUnit({"--type", "QOR11"});
    ASSERT_EQ(cli("new --type QOR22 " + file("big.qor")).status, 0);
    const std::string before = readAllOf(file("big.qor"));
    const CliRun r = cli("read --port " + port() + " --on-error skip --objects 'TRK(1)','TRK(2)' " + file("big.qor"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TRK(2): Ошибка"), std::string::npos) << r.err;
    EXPECT_EQ(readAllOf(file("big.qor")), before);
}

TEST_F(Cli, ClockIsPrintedAndSet) {
    startUnit({"--clock", "050324 0907 03"});
    CliRun r = cli("clock --port " + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 16), "2024-03-05 09:07");
    r = cli("clock --port " + port() + " --set '2030-06-07 08:09:10'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 16), "2030-06-07 08:09");
    EXPECT_EQ(cli("clock --port " + port() + " --set tomorrow").status, 2);
}

TEST_F(Cli, SoundConvertsBothWays) {
    writeWav(file("in.wav"), 8000, 1000);
    EXPECT_EQ(cli("sound to-device " + file("in.wav") + " " + file("out.ktm")).status, 0);
    const auto ktm = fs::file_size(file("out.ktm"));
    EXPECT_NEAR(static_cast<double>(ktm), 500, 1);
    EXPECT_EQ(cli("sound to-wav " + file("out.ktm") + " " + file("back.wav")).status, 0);
    EXPECT_EQ(fs::file_size(file("back.wav")), 44u + 4 * ktm);
    EXPECT_EQ(cli("sound to-device " + file("out.ktm") + " " + file("bad.ktm")).status, 1);
    EXPECT_FALSE(fs::exists(file("bad.ktm")));
    EXPECT_EQ(cli("sound sideways a b").status, 2);
}
