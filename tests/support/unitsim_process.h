// Test helpers for driving the real unitsim program: start it, learn its slave path from its first line, open
// the slave raw, send bytes and wait for texts with generous time-outs. Header-only so any test folder can
// include it; the including target defines UNITSIM_BINARY as the path of the unitsim program.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace unitsim_test {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "unitsim-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Waits until a transcript (--log) holds the text; the way to know the unit has seen a peer hang up before
// the next one opens the line.
inline bool waitForText(const std::filesystem::path& file, std::string_view text, Ms timeout = 10000ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (f) {
            std::string all;
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                all.append(buf, n);
            std::fclose(f);
            if (all.find(text) != std::string::npos)
                return true;
        }
        usleep(20000);
    }
    return false;
}

// The unitsim process. Its standard output stays readable: every line is a slave path (a new one follows a
// simulated hang-up).
class UnitsimProcess {
public:
    explicit UnitsimProcess(const std::vector<std::string>& args, std::string binary = defaultBinary()) {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> all{binary};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        stdout_ = out[0];
        if (rc != 0) {
            close(stdout_);
            throw std::runtime_error("cannot start " + binary);
        }
    }
    ~UnitsimProcess() { stop(); }
    UnitsimProcess(const UnitsimProcess&) = delete;
    UnitsimProcess& operator=(const UnitsimProcess&) = delete;

    static std::string defaultBinary() {
#ifdef UNITSIM_BINARY
        return UNITSIM_BINARY;
#else
        const char* env = std::getenv("UNITSIM_BINARY");
        return env ? env : "unitsim";
#endif
    }

    // The next line of standard output, or nullopt after the time-out or at its end.
    std::optional<std::string> readLine(Ms timeout = 10000ms) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return std::nullopt;
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            char buf[512];
            ssize_t n = read(stdout_, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            pending_.append(buf, static_cast<std::size_t>(n));
        }
    }

    // SIGTERM, then the exit status (-1 if it had to be killed or could not be reaped).
    int stop(Ms grace = 5000ms) {
        if (pid_ <= 0)
            return status_;
        kill(pid_, SIGTERM);
        status_ = waitFor(grace);
        if (status_ == -2) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = -1;
        }
        pid_ = -1;
        if (stdout_ >= 0)
            close(stdout_);
        stdout_ = -1;
        return status_;
    }

    // Waits for the process to end by itself; its exit status, or -2 while it still runs at the time-out.
    int waitFor(Ms timeout) {
        if (pid_ <= 0)
            return status_;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int st = 0;
            pid_t r = waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return -2;
            usleep(10000);
        }
    }

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
    std::string pending_;
};

// The peer's end of the line: the slave, raw, non-blocking.
class PtyPeer {
public:
    explicit PtyPeer(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B38400);
        t.c_cflag |= CSTOPB | CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~PtyPeer() { closeLine(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    void closeLine() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    bool send(std::string_view bytes) {
        std::size_t done = 0;
        auto deadline = std::chrono::steady_clock::now() + 10000ms;
        while (done < bytes.size()) {
            ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (std::chrono::steady_clock::now() > deadline)
                    return false;
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        return true;
    }

    // Reads what arrives within the time-out into the received text; false when the line is dead (EIO).
    bool pump(Ms timeout) {
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(timeout.count()));
        if (r <= 0)
            return true;
        char buf[4096];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            received_.append(buf, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        dead_ = true;
        return false;
    }

    // Waits until the received text holds the wanted text; then returns everything up to and including it and
    // keeps the rest. nullopt after the time-out (the received text stays for inspection).
    std::optional<std::string> expect(std::string_view wanted, Ms timeout = 5000ms) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto pos = received_.find(wanted);
            if (pos != std::string::npos) {
                std::string got = received_.substr(0, pos + wanted.size());
                received_.erase(0, pos + wanted.size());
                return got;
            }
            auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
            if (left <= Ms(0) || dead_)
                return std::nullopt;
            if (!pump(std::min(left, Ms(100))))
                return std::nullopt;
        }
    }

    // Exactly n bytes, or nullopt after the time-out.
    std::optional<std::string> readExact(std::size_t n, Ms timeout = 5000ms) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (received_.size() < n) {
            auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
            if (left <= Ms(0) || dead_)
                return std::nullopt;
            if (!pump(std::min(left, Ms(100))))
                return std::nullopt;
        }
        std::string got = received_.substr(0, n);
        received_.erase(0, n);
        return got;
    }

    // Collects for a while and hands over everything received so far.
    std::string collect(Ms during) {
        auto deadline = std::chrono::steady_clock::now() + during;
        while (std::chrono::steady_clock::now() < deadline && !dead_)
            pump(Ms(20));
        std::string all;
        all.swap(received_);
        return all;
    }

    // Sends a command and waits for the unit's "#" prompt; the whole answer.
    std::optional<std::string> command(std::string_view text, Ms timeout = 5000ms) {
        if (!send(text))
            return std::nullopt;
        return expect("#", timeout);
    }

    // " quit\r", the "Password:" prompt, the password and the "#".
    bool login(const std::string& password = "7316", Ms timeout = 5000ms) {
        if (!send(" quit\r") || !expect("Password:", timeout))
            return false;
        return send(password + "\r") && expect("#", timeout).has_value();
    }

    bool dead() const { return dead_; }
    int fd() const { return fd_; }
    std::string& received() { return received_; }

private:
    int fd_ = -1;
    bool dead_ = false;
    std::string received_;
};

// A unitsim with a state folder, already started, with its slave path read.
struct RunningUnit {
    explicit RunningUnit(std::vector<std::string> extra = {}, const std::string& stateDir = {})
        : process(withState(std::move(extra), stateDir.empty() ? state.str() : stateDir)) {
        auto line = process.readLine();
        if (!line)
            throw std::runtime_error("unitsim printed no slave path");
        slavePath = *line;
    }
    static std::vector<std::string> withState(std::vector<std::string> extra, const std::string& dir) {
        extra.insert(extra.begin(), {"--state", dir});
        return extra;
    }
    TempDir state;
    UnitsimProcess process;
    std::string slavePath;
};

} // namespace unitsim_test
