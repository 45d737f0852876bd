// zirezid-cli report: the site report as PDF. The only command that needs Qt (its GUI library, on the
// offscreen platform: no display is wanted).
#include "app/report/site_report.h"
#include "audio/loudness.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "flow/call_flow.h"
#include "flow/message_probe.h"
#include "model/unit_config.h"

#include <QGuiApplication>

#include <filesystem>
#include <iostream>

namespace cli {
namespace {

int cmdReport(const Args& args) {
    const Command& self = *findCommand("report");
    ParsedOptions parsed;
    if (std::string problem = parseOptions(args, {{"-o", "файл отчёта"}}, parsed); !problem.empty())
        return usageError(self, problem);
    const std::string output = parsed.value("-o").value_or("");
    if (parsed.plain.size() != 1 || output.empty())
        return usageError(self, "expected a settings file and -o OUTPUT.pdf");
    const std::string& file = parsed.plain[0];
    if (output.size() < 4 || output.substr(output.size() - 4) != ".pdf")
        return usageError(self, "the output must end in .pdf");
    SettingsDatabase db;
    std::error_code ec;
    const auto full = std::filesystem::absolute(file, ec);
    if (!db.loadBase(ec ? file : full.lexically_normal().string()))
        return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "zirezid-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    // The same findings as the window's report and lint: the loudness ones need the recordings measured.
    flow::CallFlow callFlow = flow::readCallFlow(db);
    flow::measureLevels(callFlow, audio::measureFileLoudness);
    std::string error;
    if (!zirezid::writeSiteReport(db, callFlow, output, error)) {
        std::cerr << "Отчёт не записан: " << error << '\n';
        return kRefused;
    }
    return kOk;
}

} // namespace

std::vector<Command> reportCommands() { return {{"report", "FILE -o OUT.pdf", cmdReport}}; }

} // namespace cli
