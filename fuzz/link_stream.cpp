// The device link's readers fed with arbitrary bytes from the unit's side of a pseudo-terminal: the answer
// parser alone, the login and logout waits, an object exchange and the block receiver. The first byte picks the
// reader; the rest is what the "unit" says, handed over in fixed chunks whenever the link has taken everything
// before. When the input is used up the harness presses Stop, so no run waits for a time-out and every run
// ends on the same bytes.
#include "link/answer.h"
#include "link/device_link.h"
#include "link/link_ui.h"
#include "serial/comm.h"
#include "serial/main_thread.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kChunk = 300;

class FeedingUi : public devlink::LinkUi {
public:
    FeedingUi(serial::TVaEventQueue& queue, int master) : queue_(queue), master_(master) {}

    void start(devlink::DeviceLink& link, std::string input) {
        link_ = &link;
        input_ = std::move(input);
        pos_ = 0;
    }

    void processEvents(int) override {
        queue_.ProcessEvents(0);
        drainMaster();
        serial::TVaComm& port = *link_->VaComm1;
        if (port.ReadBufUsed() > 0) {
            queue_.ProcessEvents(1);
            return;
        }
        if (pos_ >= input_.size()) {
            link_->stopFlag = true;
            return;
        }
        const std::size_t n = std::min(kChunk, input_.size() - pos_);
        writeAll(input_.data() + pos_, n);
        pos_ += n;
        // The chunk counts as said only once the port holds all of it; the link reads on this thread only.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (port.ReadBufUsed() < static_cast<int>(n)) {
            if (std::chrono::steady_clock::now() > limit) {
                std::fprintf(stderr, "link stream: the pseudo-terminal did not pass the chunk on\n");
                std::abort();
            }
            usleep(20);
        }
        queue_.ProcessEvents(1);
    }

    void drainMaster() {
        char sink[4096];
        while (::read(master_, sink, sizeof sink) > 0) {
        }
    }

    void selectRow(int) override {}
    void setRowStatus(int, const std::string&) override {}
    void setStatusPanel(int, const std::string&) override {}
    void setDialogState(devlink::DialogState) override {}
    void deviceInfoChanged() override {}
    void showMessage(const std::string&, const std::string&) override {}
    int askAbortRetryIgnore(const std::string&, bool) override { return devlink::mrAbort; }
    int askYesNoAll(const std::string&) override { return devlink::mrNo; }
    bool editText(const std::string&, const std::string&, std::string&) override { return false; }

private:
    void writeAll(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t w = ::write(master_, data, size);
            if (w > 0) {
                data += w;
                size -= static_cast<std::size_t>(w);
            } else {
                drainMaster();
                usleep(50);
            }
        }
    }

    serial::TVaEventQueue& queue_;
    int master_;
    devlink::DeviceLink* link_ = nullptr;
    std::string input_;
    std::size_t pos_ = 0;
};

struct Bench {
    Bench() {
        char name[128] = {};
        int slave = -1;
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            std::abort();
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        // The master stays open for the whole run; the slave is opened by the port itself.
        ::close(slave);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        serial::SetMainThreadHost(&queue);
        ui = std::make_unique<FeedingUi>(queue, master);
        link = std::make_unique<devlink::DeviceLink>(*ui);
        link->devicePath = name;
        link->VaComm1->SetDeviceName(name);
        link->VaComm1->Open();
        char dir[] = "/tmp/fuzz_linkXXXXXX";
        if (!mkdtemp(dir))
            std::abort();
        folder = std::string(dir) + "/";
        link->tempFolder = folder;
    }
    int master = -1;
    serial::TVaEventQueue queue;
    std::unique_ptr<FeedingUi> ui;
    std::unique_ptr<devlink::DeviceLink> link;
    std::string folder;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const int mode = data[0] % 5;
    if (mode == 0) {
        const devlink::Answer a = devlink::parseAnswer(input);
        if (a.complete && input.find('#') == std::string::npos)
            std::abort(); // an answer is never complete before the prompt
        return 0;
    }

    static Bench bench;
    devlink::DeviceLink& link = *bench.link;
    link.VaComm1->PurgeReadWrite();
    bench.queue.ProcessEvents(0);
    bench.ui->drainMaster();
    link.stopFlag = false;
    link.rxFlag = false;
    link.rxText.clear();
    link.rxPos = 0;
    link.setTimeout(1000);
    bench.ui->start(link, input);

    std::string payload, name;
    switch (mode) {
    case 1:
        link.cmdLogin("7316");
        break;
    case 2:
        link.cmdLogout();
        break;
    case 3:
        link.cmdGetObject("507", payload);
        break;
    default: {
        link.receiveFile(bench.folder, name);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(bench.folder, ec))
            std::filesystem::remove_all(entry.path(), ec);
        break;
    }
    }
    return 0;
}
