// zirezid-cli's files when a read goes wrong late, and the truth of its exit status: a read whose messages cannot
// all be put in place changes nothing, refused device fields and an unreadable clock fail with a message, and
// a port named like the window names it (com1) is that port.
#include "tests/support/unitsim_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
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
    int status = -1;
    std::string out, err;
};

class FileFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cli("new " + file("site.qor")).status, 0);
        writeFile(dir.path() / "site.messages" / "50001" / "old.wav", "the technician's own recording");
        writeFile(dir.path() / "unit" / "objects" / "SYSPARAM.txt", "NRingsToPickup=6\n");
        writeFile(dir.path() / "unit" / "messages" / "50001" / "greeting.ktm", std::string(4000, '\x37'));
        writeFile(dir.path() / "unit" / "messages" / "50101" / "second.ktm", std::string(4000, '\x21'));
    }

    void startUnit(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--state", (dir.path() / "unit").string(), "--link", port()};
        args.insert(args.end(), extra.begin(), extra.end());
        unit = std::make_unique<unitsim_test::UnitsimProcess>(args);
        ASSERT_TRUE(unit->readLine().has_value());
    }

    CliRun cli(const std::string& args, const std::string& env = {}) {
        const std::string out = file("cli.out"), err = file("cli.err");
        const std::string command =
            env + " timeout -s KILL 120 " + std::string(ZIREZID_CLI) + " " + args + " >" + out + " 2>" + err;
        const int st = std::system(command.c_str());
        CliRun r;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = readFile(out);
        r.err = readFile(err);
        fs::remove(out);
        fs::remove(err);
        EXPECT_NE(r.status, 137) << "zirezid-cli " << args << " hangs";
        return r;
    }

    std::string port() const { return (dir.path() / "tty").string(); }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }

    // Every file below the folder with its content, for comparing before and after.
    std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& folder) const {
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& e : fs::recursive_directory_iterator(folder))
            all.emplace_back(e.path().string(), e.is_regular_file() ? readFile(e.path()) : std::string("<dir>"));
        std::sort(all.begin(), all.end());
        return all;
    }

    unitsim_test::TempDir dir;
    std::unique_ptr<unitsim_test::UnitsimProcess> unit;
};

TEST_F(FileFaults, AReadWhoseMessagesCannotAllBePutInPlaceChangesNothing) {
    // Menu 1's messages folder is taken by a plain file: menu 0's download would go in, menu 1's cannot.
    writeFile(dir.path() / "site.messages" / "50101", "a file where the folder should be");
    const std::string before = readFile(file("site.qor"));
    const auto messagesBefore = snapshot(dir.path() / "site.messages");
    startUnit();
    const CliRun r =
        cli("read --port " + port() + " --messages --objects SYSPARAM,'MENU(0)','MENU(1)' " + file("site.qor"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Невозможно создать папку сообщений " + file("site.messages/50101") + "/"), std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(file("site.qor")), before) << "the settings were saved without their messages";
    EXPECT_EQ(snapshot(dir.path() / "site.messages"), messagesBefore);

    // With the place free the same read brings everything, the technician's other file stays.
    fs::remove(dir.path() / "site.messages" / "50101");
    const CliRun ok =
        cli("read --port " + port() + " --messages --objects SYSPARAM,'MENU(0)','MENU(1)' " + file("site.qor"));
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(fs::file_size(dir.path() / "site.messages" / "50001" / "greeting.wav"), 44u + 4 * 4000u);
    EXPECT_EQ(fs::file_size(dir.path() / "site.messages" / "50101" / "second.wav"), 44u + 4 * 4000u);
    EXPECT_EQ(readFile(dir.path() / "site.messages" / "50001" / "old.wav"), "the technician's own recording");
    EXPECT_EQ(cli("get " + file("site.qor") + " SYSPARAM NRingsToPickup").out, "6\n");
    for (const auto& [path, content] : snapshot(dir.path() / "site.messages"))
        EXPECT_EQ(path.find(".saving-"), std::string::npos) << path;
}

TEST_F(FileFaults, AMessagesFolderThatIsALinkToItselfFailsTheReadBeforeAnythingIsSaved) {
    fs::remove_all(dir.path() / "site.messages");
    fs::create_symlink(dir.path() / "site.messages", dir.path() / "site.messages");
    const std::string before = readFile(file("site.qor"));
    startUnit();
    const CliRun r = cli("read --port " + port() + " --messages --objects SYSPARAM,'MENU(0)' " + file("site.qor"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("символических ссылок"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(file("site.qor")), before);
}

TEST_F(FileFaults, APortNamedLikeTheWindowNamesItIsThatPort) {
    startUnit();
    // Lower case, as a technician types it; the window's COM1 is found through ZIREZID_COM1.
    const CliRun r = cli("info --port com1", "ZIREZID_COM1=" + port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ConfigID=29\n"), std::string::npos) << r.out;
}

// A unit scripted on a pseudo-terminal with the device information and clock answers given: the simulated unit
// only ever sends good ones.
class ScriptedUnit {
public:
    ScriptedUnit(std::string deviceInfo, std::string clock)
        : deviceInfo_(std::move(deviceInfo)), clock_(std::move(clock)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master_);
        ::unlockpt(master_);
        slave_ = ::ptsname(master_);
        // Held open so the line does not hang up between the program's opens.
        keep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(keep_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(keep_, TCSANOW, &t);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedUnit() {
        stop_ = true;
        thread_.join();
        ::close(keep_);
        ::close(master_);
    }
    const std::string& slave() const { return slave_; }

private:
    void say(const std::string& text) { (void)!::write(master_, text.data(), text.size()); }
    void serve() {
        std::string heard;
        bool loggedIn = false, askedPassword = false;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            char buf[256];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                continue;
            heard.append(buf, static_cast<std::size_t>(n));
            for (;;) {
                if (auto q = heard.find(" quit\r"); q != std::string::npos) {
                    say(loggedIn ? "OK\r\nPassword:" : "\r\nPassword:");
                    loggedIn = false;
                    askedPassword = true;
                    heard.erase(0, q + 6);
                } else if (askedPassword && heard.find('\r') != std::string::npos) {
                    say("\r\n#");
                    loggedIn = true;
                    askedPassword = false;
                    heard.erase(0, heard.find('\r') + 1);
                } else if (auto g = heard.find(" geto 90 "); g != std::string::npos) {
                    say(deviceInfo_ + " OK\r\n#");
                    heard.erase(0, g + 9);
                } else if (auto c = heard.find(" geto 91 "); c != std::string::npos) {
                    say(clock_ + " OK\r\n#");
                    heard.erase(0, c + 9);
                } else {
                    break;
                }
            }
        }
    }
    std::string deviceInfo_, clock_;
    int master_ = -1, keep_ = -1;
    std::string slave_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

constexpr const char* kGoodInfo = "22 100001 '1.00.00' 29 305419896 4194304";

TEST_F(FileFaults, AClockAnswerThatIsNoDateFailsWithAMessage) {
    ScriptedUnit scripted(kGoodInfo, "xx0799 1000 00");
    const CliRun r = cli("clock --port " + scripted.slave());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("Часы устройства не прочитаны"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(FileFaults, InfoWithADeviceFieldItsKindRefusesFailsWithTheMessage) {
    {
        ScriptedUnit scripted("150 100001 '1.00.00' 29 305419896 4194304", "010799 1000 00");
        const CliRun r = cli("info --port " + scripted.slave());
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.err.find("ModelCode"), std::string::npos) << r.err;
    }
    ScriptedUnit scripted(kGoodInfo, "010799 1000 00");
    const CliRun good = cli("info --port " + scripted.slave());
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_NE(good.out.find("ModelCode=22\n"), std::string::npos) << good.out;
}

} // namespace
