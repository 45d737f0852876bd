// Time from starting a write to its preview: the pre-write read of every object of a QOR22 database against
// unitsim paced at 38400 bit/s, without messages and with the unit's recordings downloaded (those the write
// would replace). The write is cancelled at the preview, so nothing is sent. Reports medians; with messages
// also the download's share over the recordings' own wire time (11 bits per byte). Usage:
// bench_write_preview [path of unitsim] [runs] [recording bytes per menu] [menus with a recording]
#include "history/guarded_write.h"
#include "link/device_link.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/comm.h"
#include "serial/main_thread.h"
#include "tests/link/recording_ui.h"
#include "tests/support/unitsim_process.h"
#include "wire_time.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

using namespace unitsim_test;
using Clock = std::chrono::steady_clock;

namespace {

void leaves(KT_TABLE& table, history::ObjectList& out) {
    bool hasTreeChildren = false;
    for (auto& child : table.children)
        if (KT_TABLE* sub = child.second->table(); sub && sub->isVisible && isTreeTable(*sub)) {
            hasTreeChildren = true;
            leaves(*sub, out);
        }
    if (!hasTreeChildren && isTreeTable(table) && std::string(table.className()) != "KT_BASE")
        out.emplace_back(table.getDescription(), &table);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Median seconds from the start of the guarded write to its preview, over the runs.
double measure(const std::string& binary, int runs, std::size_t recording, int menus) {
    TempDir dir;
    for (int m = 0; m < menus; ++m) {
        const auto folder = dir.path() / "unit" / "messages" / (std::to_string(500 + m) + "01");
        std::filesystem::create_directories(folder);
        std::string bytes(recording, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(m)) & 0xFF);
        std::ofstream(folder / "rec.ktm", std::ios::binary) << bytes;
    }
    UnitsimProcess unit({"--state", (dir.path() / "unit").string(), "--baud", "38400"}, binary);
    const auto path = unit.readLine();
    if (!path)
        return -1;
    serial::TVaEventQueue queue;
    serial::SetMainThreadHost(&queue);
    RecordingUi ui(queue);
    SettingsDatabase db;
    db.selectUnitConfig(29);
    db.buildNewBase((dir.path() / "site.qor").string());
    db.messagesFolder = messagesFolderFor(db.basePath);
    std::filesystem::create_directories(dir.path() / "scratch");
    std::vector<double> times;
    {
        devlink::DeviceLink link(ui);
        link.devicePath = *path;
        link.database = &db;
        link.tempFolder = (dir.path() / "scratch").string() + "/";
        if (!link.openSession())
            return -1;
        history::SnapshotStore store((dir.path() / "history").string());
        history::ObjectList objects;
        leaves(*db.root, objects);
        for (int run = 0; run < runs; ++run) {
            history::GuardedWrite write(link, ui, store, history::Preferences{});
            write.objects = objects;
            Clock::time_point shown;
            write.approve = [&](history::Preview&) {
                shown = Clock::now();
                return false;
            };
            const auto start = Clock::now();
            const auto out = write.run();
            if (out.status != history::WriteOutcome::Status::Cancelled) {
                std::fprintf(stderr, "run %d ended without a preview: %s\n", run, out.message.c_str());
                return -1;
            }
            times.push_back(std::chrono::duration<double>(shown - start).count());
            std::printf("  run %d: %.3f s (%zu objects)\n", run + 1, times.back(), objects.size());
        }
        link.closeSession();
    }
    queue.ProcessEvents(0);
    serial::SetMainThreadHost(nullptr);
    return median(times);
}

} // namespace

int main(int argc, char** argv) {
    const std::string binary = argc > 1 ? argv[1] : "build/tools/unitsim/unitsim";
    const int runs = argc > 2 ? std::stoi(argv[2]) : 5;
    const std::size_t recording = argc > 3 ? std::stoul(argv[3]) : 20000;
    const int menus = argc > 4 ? std::stoi(argv[4]) : 2;
    std::printf("Every object of a QOR22 database, no recordings on the unit:\n");
    const double plain = measure(binary, runs, 0, 0);
    std::printf("median %.3f s (goal: under 5 s)\n\n", plain);
    std::printf("The same with %d recordings of %zu bytes on the unit, downloaded before the write:\n", menus,
                recording);
    const double withMessages = measure(binary, runs, recording, menus);
    const double wire = static_cast<double>(recording) * menus * 11.0 / 38400.0;
    // For short recordings the share over the bare bytes is mostly the protocol's own, not the link's.
    const double protocol = bench::blockTransferWireSeconds(recording) * menus;
    const double extra = withMessages - plain;
    std::printf("median %.3f s; the downloads took %.3f s for %.3f s of recordings on the wire: %+.1f %% "
                "(goal: within 3 %%)\n",
                withMessages, extra, wire, (extra / wire - 1.0) * 100.0);
    std::printf("the block protocol's own floor for them is %.3f s (%+.1f %% over the bare bytes); the downloads "
                "took %+.1f %% over that floor\n",
                protocol, (protocol / wire - 1.0) * 100.0, (extra / protocol - 1.0) * 100.0);
    return plain < 0 || withMessages < 0 ? 1 : 0;
}
