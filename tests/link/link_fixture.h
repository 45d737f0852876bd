// A device link on a pseudo-terminal: the test plays the unit on the master side from a thread of its own while
// the link works on the test's main thread, with a user interface that records what it was shown and answers
// questions from a script.
#pragma once

#include <gtest/gtest.h>

#include "link/crc16.h"
#include "link/device_link.h"
#include "recording_ui.h"
#include "serial/comm.h"
#include "serial/main_thread.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// One block of the unit's block transfer as it goes on the line: header, number and its complement, data padded to
// 128 or 1024 bytes, CRC (spoilt on request).
inline std::string block(std::uint8_t number, const std::string& data, bool big, bool badCrc = false) {
    using devlink::SOH;
    using devlink::STX;
    const std::size_t size = big ? 1024 : 128;
    std::string payload = data;
    payload.resize(size, '\0');
    std::string b;
    b += static_cast<char>(big ? STX : SOH);
    b += static_cast<char>(number);
    b += static_cast<char>(255 - number);
    b += payload;
    std::uint16_t crc = devlink::crc16Block(reinterpret_cast<const std::uint8_t*>(payload.data()), size);
    if (badCrc)
        crc ^= 1;
    b += static_cast<char>(crc >> 8);
    b += static_cast<char>(crc & 0xFF);
    return b;
}

// The unit's side of the line.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                waitFor(POLLOUT, 100);
        }
    }
    void writeByte(std::uint8_t b) { write(std::string(1, static_cast<char>(b))); }
    // One byte, or -1 after limitMs without one.
    int readByte(int limitMs = 3000) {
        if (pos_ >= buf_.size()) {
            buf_.clear();
            pos_ = 0;
            if (!fill(limitMs))
                return -1;
        }
        return static_cast<unsigned char>(buf_[pos_++]);
    }
    // Reads until the text holds what, or the limit passes; answers everything read.
    std::string readUntil(const std::string& what, int limitMs = 3000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (got.find(what) == std::string::npos && std::chrono::steady_clock::now() < end) {
            const int b = readByte(50);
            if (b >= 0)
                got += static_cast<char>(b);
        }
        return got;
    }
    std::string readCount(std::size_t count, int limitMs = 3000) {
        std::string got;
        while (got.size() < count) {
            const int b = readByte(limitMs);
            if (b < 0)
                break;
            got += static_cast<char>(b);
        }
        return got;
    }

private:
    bool waitFor(short events, int ms) {
        pollfd p{fd_, events, 0};
        return poll(&p, 1, ms) > 0;
    }
    bool fill(int limitMs) {
        if (!waitFor(POLLIN, limitMs))
            return false;
        char tmp[4096];
        const ssize_t n = ::read(fd_, tmp, sizeof tmp);
        if (n <= 0)
            return false;
        buf_.append(tmp, static_cast<std::size_t>(n));
        return true;
    }
    int fd_;
    std::string buf_;
    std::size_t pos_ = 0;
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        slavePath = name;
        serial::SetMainThreadHost(&queue);
        ui = std::make_unique<RecordingUi>(queue);
        link = std::make_unique<devlink::DeviceLink>(*ui);
        link->devicePath = slavePath;
        link->VaComm1->SetDeviceName(slavePath);
        link->VaComm1->Open();
        char dir[] = "/tmp/linktestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        tempDir = std::string(dir) + "/";
        link->tempFolder = tempDir;
    }
    void TearDown() override {
        if (peerThread.joinable())
            peerThread.join();
        link.reset();
        queue.ProcessEvents(0);
        serial::SetMainThreadHost(nullptr);
        close(master);
        close(slave);
        std::error_code ec;
        std::filesystem::remove_all(tempDir, ec);
    }
    // Runs the unit's side on its own thread while the test drives the link.
    void runPeer(std::function<void(Peer&)> body) {
        peerThread = std::thread([this, body] {
            Peer p(master);
            body(p);
        });
    }
    void joinPeer() {
        if (peerThread.joinable())
            peerThread.join();
    }

    int master = -1, slave = -1;
    std::string slavePath, tempDir;
    serial::TVaEventQueue queue;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<devlink::DeviceLink> link;
    std::thread peerThread;
};
