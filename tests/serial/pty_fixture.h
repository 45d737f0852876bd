// A pseudo-terminal for a port to open: the port opens the slave path, the test talks through the master.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "serial/comm.h"
#include "serial/main_thread.h"

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        slavePath = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        serial::SetMainThreadHost(&queue);
        queue.OnException = [this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                exceptions.push_back(x.what());
            }
        };
        port = std::make_unique<serial::TVaComm>();
        port->SetDeviceName(slavePath);
    }

    void TearDown() override {
        port.reset();
        queue.ProcessEvents(0);
        serial::SetMainThreadHost(nullptr);
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }

    // Processes events until Done holds; gives up (and reports false) only after a generous limit, so a slow
    // machine never fails a test, while a hang still ends.
    bool PumpUntil(const std::function<bool()>& Done, int LimitMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LimitMs);
        while (!Done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            queue.ProcessEvents(10);
        }
        return true;
    }

    // Processes events for a while, for checks that something does not happen.
    void PumpFor(int Ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        while (std::chrono::steady_clock::now() < end)
            queue.ProcessEvents(10);
    }

    void PeerWrite(const std::string& Bytes) {
        ASSERT_EQ(write(master, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
    }

    // Reads from the master until Count bytes came (or the limit passed), processing events meanwhile.
    std::string PeerRead(std::size_t Count, int LimitMs = 5000) {
        std::string got;
        PumpUntil(
            [&] {
                char buf[4096];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<std::size_t>(n));
                return got.size() >= Count;
            },
            LimitMs);
        return got;
    }

    termios SlaveTermios() {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }

    int master = -1;
    int slave = -1;
    std::string slavePath;
    serial::TVaEventQueue queue;
    std::vector<std::string> exceptions;
    std::unique_ptr<serial::TVaComm> port;
};
