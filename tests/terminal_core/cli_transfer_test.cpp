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

// Starts Argv in Folder; with Line >= 0 it is the program's standard input and output.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& folder, int line) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        if (line >= 0) {
            dup2(line, 0);
            dup2(line, 1);
        }
        const int devnull = open("/dev/null", O_WRONLY);
        if (line >= 0 && devnull >= 0)
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

    // Runs the tool and the peer side by side; both exit codes.
    std::pair<int, int> Run(const std::vector<std::string>& tool, const std::vector<std::string>& peer) {
        const pid_t p = Spawn(peer, root / "peer", master);
        const pid_t t = Spawn(tool, root / "local", -1);
        const int toolCode = Wait(t);
        const int peerCode = Wait(p);
        return {toolCode, peerCode};
    }

    int master = -1;
    int slave = -1;
    std::string slavePath;
    fs::path root;
};

} // namespace

TEST_F(CliTransfer, YModemBatchSentToLrzszArrivesWhole) {
    WriteFile(root / "local" / "a.bin", Pattern(3000));
    WriteFile(root / "local" / "b.txt", "short\r\n");
    const auto [tool, peer] =
        Run({ZIREZID_CLI, "ymodem", "send", "--port", slavePath, "a.bin", "b.txt"}, {"rb"});
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

TEST_F(CliTransfer, XModem1kSentToLrzsz) {
    WriteFile(root / "local" / "x.bin", Pattern(2048));
    const auto [tool, peer] =
        Run({ZIREZID_CLI, "xmodem", "send", "--port", slavePath, "--protocol", "xmodem1k", "x.bin"},
            {"rx", "-c", "x.bin"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    // XMODEM pads the last block; the file starts with what was sent.
    EXPECT_EQ(ReadFile(root / "peer" / "x.bin").substr(0, 2048), Pattern(2048));
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
