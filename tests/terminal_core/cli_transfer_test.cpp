// zirezid-cli ymodem / xmodem against lrzsz: the peer runs on the master side of a pseudo-terminal, the tool
// opens the slave.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
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

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

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

// Starts Argv in Folder; with In and Out >= 0 they are the program's standard input and output, with Errors >= 0
// its standard error.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& folder, int in, int out, int errors = -1) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        if (in >= 0) {
            dup2(in, 0);
            dup2(out, 1);
        }
        const int devnull = open("/dev/null", O_WRONLY);
        if (errors >= 0)
            dup2(errors, 2);
        else if (in >= 0 && devnull >= 0)
            dup2(devnull, 2);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != devnull)
                close(fd);
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
        StopRelay();
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
        if (!root.empty())
            fs::remove_all(root);
    }

    // Starts the peer on the master side. lrzsz talks through pipes relayed to the line: it empties its
    // terminal's input right after each start character and ACK, and its output as it exits; on a
    // pseudo-terminal, where bytes arrive the moment they are written, that throws away whatever we answered
    // quickly (the next block, or the last ACK), and only its own time-outs of ten seconds and more bring the
    // transfer back. Getting through such losses is the tests of the transfer component against a scripted
    // receiver; here the outcome and its time are the same on every run.
    pid_t SpawnPeer(const std::vector<std::string>& argv) {
        int toPeer[2], fromPeer[2];
        EXPECT_EQ(pipe(toPeer), 0);
        EXPECT_EQ(pipe(fromPeer), 0);
        const pid_t pid = Spawn(argv, root / "peer", toPeer[0], fromPeer[1]);
        close(toPeer[0]);
        close(fromPeer[1]);
        relayOut = toPeer[1];
        relayIn = fromPeer[0];
        relayStop = false;
        relay = std::thread([this] {
            char buf[4096];
            bool peerOpen = true;
            while (!relayStop) {
                pollfd p[2] = {{master, POLLIN, 0}, {relayIn, static_cast<short>(peerOpen ? POLLIN : 0), 0}};
                if (poll(p, 2, 20) <= 0)
                    continue;
                for (int i = 0; i < 2; ++i) {
                    if (!(p[i].revents & (POLLIN | POLLHUP)))
                        continue;
                    const ssize_t n = read(p[i].fd, buf, sizeof buf);
                    if (n <= 0) {
                        if (i == 1)
                            peerOpen = false;
                        continue;
                    }
                    const int to = i == 0 ? relayOut : master;
                    for (ssize_t off = 0; off < n;) {
                        const ssize_t w = write(to, buf + off, static_cast<std::size_t>(n - off));
                        if (w <= 0)
                            break;
                        off += w;
                    }
                }
            }
        });
        return pid;
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

    // Runs the tool and the peer side by side; both exit codes. A sending tool says when its transfer has
    // started; only then is the receiving peer started, so that its first start character is not taken by
    // the purge that begins every transfer (and the peer does not wait seconds to repeat it).
    std::pair<int, int> Run(const std::vector<std::string>& tool, const std::vector<std::string>& peer) {
        // A peer that has ended leaves the relay writing into a closed pipe.
        std::signal(SIGPIPE, SIG_IGN);
        pid_t t = -1;
        pid_t p = -1;
        if (tool[2] == "send") {
            int pipeFds[2];
            EXPECT_EQ(pipe(pipeFds), 0);
            t = Spawn(tool, root / "local", -1, -1, pipeFds[1]);
            close(pipeFds[1]);
            char c = 0;
            while (read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            }
            p = SpawnPeer(peer);
            // The tool goes on reporting; the pipe stays open until it ends.
            announcements = pipeFds[0];
        } else {
            p = SpawnPeer(peer);
            t = Spawn(tool, root / "local", -1, -1);
        }
        const int toolCode = Wait(t);
        if (announcements >= 0) {
            close(announcements);
            announcements = -1;
        }
        const int peerCode = Wait(p);
        StopRelay();
        return {toolCode, peerCode};
    }

    int master = -1;
    int slave = -1;
    int announcements = -1;
    int relayIn = -1;
    int relayOut = -1;
    std::atomic<bool> relayStop{false};
    std::thread relay;
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
    const auto [tool, peer] = Run({ZIREZID_CLI, "ymodem", "receive", "--port", slavePath, "in"}, {"sb", "msg.ktm"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    EXPECT_EQ(ReadFile(root / "local" / "in" / "msg.ktm"), Pattern(5000));
}

TEST_F(CliTransfer, XModem1kSentToLrzsz) {
    WriteFile(root / "local" / "x.bin", Pattern(2048));
    const auto [tool, peer] = Run(
        {ZIREZID_CLI, "xmodem", "send", "--port", slavePath, "--protocol", "xmodem1k", "x.bin"}, {"rx", "-c", "x.bin"});
    EXPECT_EQ(tool, 0);
    EXPECT_EQ(peer, 0);
    EXPECT_EQ(ReadFile(root / "peer" / "x.bin").substr(0, 2048), Pattern(2048));
}

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
    EXPECT_EQ(WEXITSTATUS(std::system((cli + " xmodem send --port /dev/null --protocol zmodem x 2>/dev/null").c_str())),
              2);
    EXPECT_EQ(WEXITSTATUS(std::system((cli + " ymodem send --port /nonexistent/tty x 2>/dev/null").c_str())), 1);
}
