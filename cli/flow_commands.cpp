// The call-flow commands of zirezid-cli: the pre-write check, a trial call and the flow picture, all on a
// settings file without a unit.
#include "cli/commands.h"
#include "cli/options.h"

#include "audio/loudness.h"

#include "flow/answering_menu.h"
#include "flow/call_flow.h"
#include "flow/flow_picture.h"
#include "flow/message_probe.h"
#include "flow/prewrite_check.h"
#include "flow/trial_call.h"
#include "model/atomic_file.h"
#include "model/unit_config.h"

#include <filesystem>
#include <iostream>
#include <optional>

namespace cli {
namespace {

// A load failure has been said by the model on standard error already.
constexpr int kNotLoaded = 2;

bool load(SettingsDatabase& db, const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return db.loadBase(ec ? path : full.lexically_normal().string());
}

std::optional<unsigned long long> parseCount(const std::string& text) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

int cmdLint(const Args& args) {
    const Command& self = *findCommand("lint");
    ParsedOptions parsed;
    if (std::string problem = parseOptions(args, {{"--free-bytes", "число байт"}}, parsed); !problem.empty())
        return usageError(self, problem);
    std::optional<unsigned long long> freeBytes;
    if (const auto given = parsed.value("--free-bytes"); given && !(freeBytes = parseCount(*given)))
        return usageError(self, "--free-bytes needs a number of bytes");
    if (parsed.plain.size() != 1)
        return usageError(self, "expected one settings file");
    const std::string& file = parsed.plain[0];
    SettingsDatabase db;
    if (!load(db, file))
        return kNotLoaded;
    flow::CallFlow cf = flow::readCallFlow(db, freeBytes);
    flow::measureLevels(cf, audio::measureFileLoudness);
    const auto findings = flow::checkCallFlow(cf);
    for (const auto& f : findings)
        std::cout << flow::gradeName(f.grade) << '\t' << f.object << '\t' << f.key << '\t' << f.text << '\n';
    std::cerr << "ошибок: " << flow::countGrade(findings, flow::Grade::Error)
              << ", предупреждений: " << flow::countGrade(findings, flow::Grade::Warning)
              << ", замечаний: " << flow::countGrade(findings, flow::Grade::Note) << '\n';
    return flow::hasErrors(findings) ? kRefused : kOk;
}

int cmdCall(const Args& args) {
    const Command& self = *findCommand("call");
    ParsedOptions parsed;
    if (std::string problem =
            parseOptions(args, {{"--line", "номер линии"}, {"--at", "дата и время"}, {"--digits", "цифры"}}, parsed);
        !problem.empty())
        return usageError(self, problem);
    std::optional<int> line;
    if (const auto given = parsed.value("--line")) {
        const auto n = parseCount(*given);
        if (!n || *n > 99)
            return usageError(self, "--line needs a line number");
        line = static_cast<int>(*n);
    }
    flow::CallTime at = flow::callTimeNow();
    if (const auto given = parsed.value("--at")) {
        const auto t = flow::parseCallTime(*given);
        if (!t)
            return usageError(self, "--at needs a date and time \"YYYY-MM-DD HH:MM\"");
        at = *t;
    }
    std::vector<int> events;
    if (const auto given = parsed.value("--digits")) {
        std::string bad;
        if (!flow::parseDigits(*given, events, bad))
            return usageError(self, "--digits: \"" + bad + "\" is not a digit, T (time-out) or N (no answer)");
    }
    if (parsed.plain.size() != 1 || !line)
        return usageError(self, "expected a settings file and --line N");
    const std::string& file = parsed.plain[0];
    SettingsDatabase db;
    if (!load(db, file))
        return kNotLoaded;
    const flow::CallFlow cf = flow::readCallFlow(db);
    flow::TrialCall call(cf, *line, at);
    if (call.start()) {
        for (int ev : events) {
            if (ev == flow::kNoAnswerEvent)
                call.operatorNoAnswer();
            else
                call.press(ev);
        }
        call.finish();
    }
    for (const auto& step : call.steps())
        std::cout << step.text << '\n';
    return call.end() == flow::CallEnd::Operator || call.end() == flow::CallEnd::Mailbox ? kOk : kRefused;
}

int cmdFlow(const Args& args) {
    const Command& self = *findCommand("flow");
    ParsedOptions parsed;
    if (std::string problem = parseOptions(args, {{"-o", "файл схемы"}, {"--layout-timeout", "секунды"}}, parsed);
        !problem.empty())
        return usageError(self, problem);
    int timeoutMs = 5000;
    if (const auto given = parsed.value("--layout-timeout")) {
        const auto n = parseCount(*given);
        if (!n || *n > 600)
            return usageError(self, "--layout-timeout needs seconds (0..600)");
        timeoutMs = static_cast<int>(*n) * 1000;
    }
    const std::string output = parsed.value("-o").value_or("");
    if (parsed.plain.size() != 1 || output.empty())
        return usageError(self, "expected a settings file and -o OUTPUT");
    const std::string& file = parsed.plain[0];
    const std::string format = flow::pictureFormatFor(output);
    if (format.empty())
        return usageError(self, "the output must end in .svg, .png or .pdf");
    SettingsDatabase db;
    if (!load(db, file))
        return kNotLoaded;
    const flow::CallFlow cf = flow::readCallFlow(db);
    flow::PictureOptions options;
    options.findings = flow::checkCallFlow(cf);
    options.timeoutMs = timeoutMs;
    const flow::Picture pic = flow::drawCallFlow(cf, options, format);
    if (!pic.laidOut)
        std::cerr << pic.message << '\n';
    std::string error;
    if (pic.data.empty() || !atomic_file::writeAll(output, pic.data, &error)) {
        std::cerr << "Схема не записана: " << (error.empty() ? "Graphviz ничего не нарисовал" : error) << '\n';
        return kRefused;
    }
    return kOk;
}

} // namespace

std::vector<Command> flowCommands() {
    return {
        {"lint", "[--free-bytes N] FILE", cmdLint},
        {"call", "FILE --line N [--at \"YYYY-MM-DD HH:MM\"] [--digits 1,2,T,N]", cmdCall},
        {"flow", "FILE -o OUT.svg|OUT.png|OUT.pdf [--layout-timeout SECONDS]", cmdFlow},
    };
}

} // namespace cli
