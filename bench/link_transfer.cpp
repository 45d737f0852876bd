// Message transfer speed and the cost of waiting, against unitsim on a throttled line.
//
//   [BENCH_SIZE=bytes] bench_link_transfer [path/to/unitsim]   (default: $UNITSIM_BINARY, else tools/unitsim/unitsim)
//
// Uploads and downloads a 240,000-byte unit file at 38400 bit/s and reports each as a share of the wire-time
// limit: 11 bits per byte, 1029 bytes per 1024-byte block, plus block 0, EOT and the closing block, and the
// processor time of each as a share of one core. Then stops a download after 3 s and reports how long until the
// link is free, and waits 5 s for a unit that never answers and reports the processor time spent.
#include "link/device_link.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/comm.h"
#include "serial/main_thread.h"
#include "tests/support/unitsim_process.h"
#include "wire_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

class QuietUi : public devlink::LinkUi {
public:
    explicit QuietUi(serial::TVaEventQueue& q) : queue(q) {}
    void processEvents(int maxWaitMs) override {
        queue.ProcessEvents(maxWaitMs);
        // A stop that comes as no event, like Ctrl+C of the command line: the slowest way a Stop arrives.
        if (stopAt > 0 && link && now() >= stopAt) {
            stopAt = 0;
            stoppedAt = now();
            link->bt_StopClick();
        }
    }
    void selectRow(int) override {}
    void setRowStatus(int, const std::string&) override {}
    // Every acknowledged block shows its percentage: the times between them tell the per-block turnaround
    // from the fixed cost of a transfer's start and end.
    void setStatusPanel(int, const std::string& text) override {
        if (!text.empty() && text.back() == '%')
            blockTimes.push_back(now());
    }
    void setDialogState(devlink::DialogState) override {}
    void deviceInfoChanged() override {}
    void showMessage(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    int askAbortRetryIgnore(const std::string& text, bool) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        return devlink::mrAbort;
    }
    int askYesNoAll(const std::string&) override { return devlink::mrYes; }
    bool editText(const std::string&, const std::string&, std::string&) override { return false; }
    serial::TVaEventQueue& queue;
    devlink::DeviceLink* link = nullptr;
    double stopAt = 0;
    double stoppedAt = 0;
    std::vector<double> blockTimes;
};

// Median and largest gap between acknowledged blocks, and the time before the first and after the last.
void printBlockTimes(const char* what, const std::vector<double>& times, double start, double end) {
    if (times.size() < 2)
        return;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
        gaps.push_back(times[i] - times[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    const double wire = 1029 * 11.0 / 38400.0;
    std::printf("  %s blocks: median %.1f ms (wire %.1f ms, +%.1f ms), largest %.1f ms; before the first %.0f ms,"
                " after the last %.0f ms\n",
                what, 1000 * gaps[gaps.size() / 2], 1000 * wire, 1000 * (gaps[gaps.size() / 2] - wire),
                1000 * gaps.back(), 1000 * (times.front() - start), 1000 * (end - times.back()));
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    std::string binary = argc > 1 ? argv[1] : unitsim_test::UnitsimProcess::defaultBinary();
    if (binary == "unitsim" && fs::exists("tools/unitsim/unitsim"))
        binary = "tools/unitsim/unitsim";
    unitsim_test::TempDir dir;
    serial::TVaEventQueue queue;
    serial::SetMainThreadHost(&queue);
    QuietUi ui(queue);

    const std::size_t size = std::getenv("BENCH_SIZE") ? std::strtoul(std::getenv("BENCH_SIZE"), nullptr, 10) : 240000;
    const double limit = bench::blockTransferWireSeconds(size);

    {
        unitsim_test::UnitsimProcess unit({"--state", (dir.path() / "unit").string(), "--baud", "38400"}, binary);
        const auto path = unit.readLine();
        if (!path) {
            std::fprintf(stderr, "unitsim did not start (%s)\n", binary.c_str());
            return 1;
        }
        SettingsDatabase db;
        db.selectUnitConfig(29);
        db.buildNewBase((dir.path() / "b.qor").string());
        db.messagesFolder = (dir.path() / "b.messages").string() + "/";
        fs::create_directories(db.messagesFolder);
        fs::create_directories(dir.path() / "scratch");
        devlink::DeviceLink link(ui);
        link.devicePath = *path;
        link.database = &db;
        link.tempFolder = (dir.path() / "scratch").string() + "/";
        // Only the line is measured: the "conversion" copies the file.
        link.soundConverter = [](const std::string& in, const std::string& out, bool) {
            std::error_code ec;
            fs::copy_file(in, out, fs::copy_options::overwrite_existing, ec);
            return ec ? 1 : 0;
        };
        if (!link.openSession())
            return 1;
        const std::string local = (dir.path() / "bench.wav").string();
        {
            std::ofstream out(local, std::ios::binary);
            for (std::size_t i = 0; i < size; ++i)
                out.put(static_cast<char>(i * 31));
        }
        ui.blockTimes.clear();
        double t0 = now(), c0 = cpuSeconds();
        int r = link.cmdUpload("50001", local);
        double up = now() - t0, upCpu = cpuSeconds() - c0;
        std::printf("upload   %zu bytes: result %d, %.2f s, wire-time limit %.2f s, %.2f%% of the limit (%.1f%% over),"
                    " cpu %.2f s\n",
                    size, r, up, limit, 100.0 * up / limit, 100.0 * (up - limit) / limit, upCpu);
        printBlockTimes("upload", ui.blockTimes, t0, t0 + up);
        std::string name;
        ui.blockTimes.clear();
        t0 = now();
        c0 = cpuSeconds();
        r = link.cmdDownload("50001", db.messagesFolder + "50001/", name);
        double down = now() - t0, downCpu = cpuSeconds() - c0;
        std::printf("download %zu bytes: result %d, %.2f s, wire-time limit %.2f s, %.2f%% of the limit (%.1f%% over),"
                    " cpu %.2f s\n",
                    size, r, down, limit, 100.0 * down / limit, 100.0 * (down - limit) / limit, downCpu);
        printBlockTimes("download", ui.blockTimes, t0, t0 + down);
        std::printf("processor share: upload %.2f%% of one core, download %.2f%% of one core\n", 100.0 * upCpu / up,
                    100.0 * downCpu / down);
        // Stop during a download, from a poll of the wait loop rather than an event; the time until the link
        // is free again includes the unit's answer to the cancel.
        ui.link = &link;
        ui.stopAt = now() + 3.0;
        r = link.cmdDownload("50001", db.messagesFolder + "50001/", name);
        const double freed = now();
        ui.link = nullptr;
        if (ui.stoppedAt > 0)
            std::printf("stop during a download: result %d, link free %.0f ms after the stop\n", r,
                        1000.0 * (freed - ui.stoppedAt));
        link.closeSession();
    }
    {
        unitsim_test::UnitsimProcess mute({"--state", (dir.path() / "unit2").string(), "--mute"}, binary);
        const auto path = mute.readLine();
        if (!path)
            return 1;
        devlink::DeviceLink link(ui);
        link.VaComm1->SetDeviceName(*path);
        link.VaComm1->Open();
        link.setTimeout(5000);
        std::string payload;
        const double t0 = now(), c0 = cpuSeconds();
        const int r = link.cmdGetObject("0", payload);
        const double wall = now() - t0, cpu = cpuSeconds() - c0;
        std::printf("waiting for a silent unit: result %d after %.2f s, cpu %.3f s = %.2f%% of one core\n", r, wall,
                    cpu, 100.0 * cpu / wall);
    }
    serial::SetMainThreadHost(nullptr);
    return 0;
}
