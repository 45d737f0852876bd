// zirezid-cli ymodem / xmodem against lrzsz: the peer runs on the master side of a pseudo-terminal, the tool
// opens the slave.
#ifdef ZIREZID_CLI

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

bool HaveProgram(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Starts Argv in Folder; with Line >= 0 it is the program's standard input and output, with Errors >= 0 its
// standard error.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& folder, int line, int errors = -1) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        if (line >= 0) {
            dup2(line, 0);
            dup2(line, 1);
        }
        const int devnull = open("/dev/null", O_WRONLY);
        if (errors >= 0)
            dup2(errors, 2);
        else if (line >= 0 && devnull >= 0)
            dup2(devnull, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CliTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("sb") || !HaveProgram("rb") || !HaveProgram("sx"))
            GTEST_SKIP() << "lrzsz is not installed";
        char name[128] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        slavePath = name;
        char pattern[] = "/tmp/cli_transfer.XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "local");
        fs::create_directories(root / "peer");
    }
    void TearDown() override {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
        if (!root.empty())
            fs::remove_all(root);
    }

    // Runs the tool and the peer side by side; both exit codes. A sending tool says when its transfer has
    // started; only then is the receiving peer started, so that its first start character is not taken by
    // the purge that begins every transfer (and the peer does not wait seconds to repeat it).
    std::pair<int, int> Run(const std::vector<std::string>& tool, const std::vector<std::string>& peer) {
        pid_t t = -1;
        pid_t p = -1;
        if (tool[2] == "send") {
            int pipeFds[2];
            EXPECT_EQ(pipe(pipeFds), 0);
            t = Spawn(tool, root / "local", -1, pipeFds[1]);
            close(pipeFds[1]);
            char c = 0;
            while (read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            }
            p = Spawn(peer, root / "peer", master);
            // The tool goes on reporting; the pipe stays open until it ends.
            announcements = pipeFds[0];
        } else {
            p = Spawn(peer, root / "peer", master);
            t = Spawn(tool, root / "local", -1);
        }
        const int toolCode = Wait(t);
        if (announcements >= 0) {
            close(announcements);
            announcements = -1;
        }
        const int peerCode = Wait(p);
        return {toolCode, peerCode};
    }

    int master = -1;
    int slave = -1;
    int announcements = -1;
    std::string slavePath;
    fs::path root;
};

} // namespace

TEST_F(CliTransfer, YModemBatchSentToLrzszArrivesWhole) {
    WriteFile(root / "local" / "a.bin", Pattern(3000));
    WriteFile(root / "local" / "b.txt", "short\r\n");
    const auto [tool, peer] =
        Run({ZIREZID_CLI, "ymodem", "send", "--port", slavePath, "a.bin", "b.txt"}, {"rb", "-t", "10"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    EXPECT_EQ(ReadFile(root / "peer" / "a.bin"), Pattern(3000));
    EXPECT_EQ(ReadFile(root / "peer" / "b.txt"), "short\r\n");
}

TEST_F(CliTransfer, YModemReceivedFromLrzszLandsInTheFolder) {
    WriteFile(root / "peer" / "msg.ktm", Pattern(5000));
    fs::create_directories(root / "local" / "in");
    const auto [tool, peer] =
        Run({ZIREZID_CLI, "ymodem", "receive", "--port", slavePath, "in"}, {"sb", "msg.ktm"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    EXPECT_EQ(ReadFile(root / "local" / "in" / "msg.ktm"), Pattern(5000));
}

// (Sending with XMODEM is left to the component's own tests: lrzsz flushes the line as it exits, which may
// take the last ACK with it, and then the sender rightly cannot tell success from failure.)
TEST_F(CliTransfer, XModem1kReceivedFromLrzsz) {
    WriteFile(root / "peer" / "x.bin", Pattern(2000));
    const auto [tool, peer] =
        Run({ZIREZID_CLI, "xmodem", "receive", "--port", slavePath, "--protocol", "xmodem1k", "x.bin"},
            {"sx", "-k", "x.bin"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    // XMODEM pads the last block; the file starts with what was sent.
    const std::string got = ReadFile(root / "local" / "x.bin");
    ASSERT_GE(got.size(), 2000u);
    EXPECT_EQ(got.substr(0, 2000), Pattern(2000));
}

TEST(CliTransferUsage, WrongArgumentsAreUsageErrors) {
    const std::string cli = ZIREZID_CLI;
    EXPECT_EQ(WEXITSTATUS(std::system((cli + " ymodem upload --port /dev/null x 2>/dev/null").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((cli + " ymodem send x 2>/dev/null").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system(
                  (cli + " xmodem send --port /dev/null --protocol zmodem x 2>/dev/null").c_str())),
              2);
    EXPECT_EQ(WEXITSTATUS(std::system((cli + " ymodem send --port /nonexistent/tty x 2>/dev/null").c_str())),
              1);
}

#endif
