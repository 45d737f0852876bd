// The call flow of a QOR22 database with 50 menus that all lead to each other: the pre-write check, the
// picture's layout and the site report. Goals on the 2-core machine: check < 20 ms, picture < 500 ms, report
// < 2 s.
//   bench_call_flow [rounds]
#include "flow/call_flow.h"
#include "app/report/site_report.h"
#include "flow/flow_picture.h"
#include "flow/prewrite_check.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

void writeWav(const fs::path& path, double seconds) {
    fs::create_directories(path.parent_path());
    const std::uint32_t bytes = static_cast<std::uint32_t>(seconds * 8000) * 2;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.put(static_cast<char>(v >> (8 * i)));
    };
    auto u16 = [&](std::uint32_t v) {
        for (int i = 0; i < 2; ++i)
            out.put(static_cast<char>(v >> (8 * i)));
    };
    out << "RIFF";
    u32(36 + bytes);
    out << "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    out << "data";
    u32(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i)
        out.put(static_cast<char>(i * 37));
}

double medianMs(int rounds, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    const fs::path dir = fs::temp_directory_path() / ("zirezid-bench-flow-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    SettingsDatabase db;
    db.selectUnitConfig(29);
    db.buildNewBase((dir / "site.qor").string());
    db.messagesFolder = messagesFolderFor(db.basePath);
    for (int k = 0; k < 50; ++k) {
        KT_TABLE* m = db.findObject("MENU(" + std::to_string(k) + ")");
        m->findChild("Desc")->value->setText("'Меню отдела " + std::to_string(k) + "'");
        writeWav(fs::path(menuMessageFolder(db.messagesFolder, *m)) / "m.wav", 3.0);
        m->findChild("Message")->value->setText("m.wav");
        for (int d = 0; d <= 9; ++d) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "01%02d", (k + d * 5 + 1) % 50);
            m->findChild("ActionDTMF[" + std::to_string(d) + "]")->value->setText(buf);
        }
        m->findChild("ActionTO")->value->setText(k % 2 ? "02012000" : "04");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const flow::CallFlow f = flow::readCallFlow(db, 1000000);
    std::size_t findings = 0;
    const double read = medianMs(rounds, [&] { (void)flow::readCallFlow(db, 1000000); });
    const double check = medianMs(rounds, [&] { findings = flow::checkCallFlow(f).size(); });
    flow::PictureOptions o;
    o.findings = flow::checkCallFlow(f);
    bool laidOut = false;
    const double picture = medianMs(rounds, [&] { laidOut = flow::drawCallFlow(f, o, "svg").laidOut; });
    std::string error;
    const std::string pdf = (dir / "site.pdf").string();
    const double report = medianMs(rounds, [&] { zirezid::writeSiteReport(db, f, pdf, error); });
    std::printf("rounds %d (medians)\n", rounds);
    std::printf("read the flow (50 menus, their WAV headers)  %8.2f ms\n", read);
    std::printf("check (%zu findings)                          %8.2f ms   goal < 20 ms\n", findings, check);
    std::printf("picture, SVG, laid out %s                    %8.2f ms   goal < 500 ms\n", laidOut ? "yes" : "NO ",
                picture);
    std::printf("site report PDF (%lld bytes)              %8.2f ms   goal < 2000 ms\n",
                static_cast<long long>(fs::file_size(pdf)), report);
    fs::remove_all(dir);
    return 0;
}
