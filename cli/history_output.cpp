#include "cli/history_output.h"

#include "model/atomic_file.h"
#include "model/ini_document.h"

#include <algorithm>

namespace cli {

void printPreview(const history::Preview& preview, std::ostream& out) {
    const auto lines = history::previewLines(preview);
    for (const auto& line : lines)
        out << line << '\n';
    out << (preview.unchanged() ? std::string(history::text::unchanged) : history::previewSummary(preview)) << '\n';
    if (!preview.beforeSnapshot.empty())
        out << "Снимок: " << preview.beforeSnapshot << '\n';
}

void printHistory(const std::vector<history::Snapshot>& snapshots, std::ostream& out) {
    for (const auto& s : snapshots)
        out << s.name << '\t' << s.index.kind << '\t' << s.index.time << '\t' << s.index.softVersion << '\t'
            << s.index.objects.size() << '\t' << s.index.messages.size() << '\t' << s.index.summary << '\n';
}

std::vector<std::string> knownPasswords(const history::SnapshotStore& store) {
    std::vector<std::pair<std::string, std::string>> found; // (snapshot name, password)
    for (const auto& unit : store.units())
        for (const auto& s : store.list(unit)) {
            if (!s.holds("SYSPARAM"))
                continue;
            std::string bytes;
            if (atomic_file::readAll(s.databaseFile(), bytes))
                if (auto pwd = IniDocument::parse(bytes).value("SYSPARAM", "Password"))
                    found.emplace_back(s.name, *pwd);
            break;
        }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> out;
    for (const auto& [name, pwd] : found)
        if (std::find(out.begin(), out.end(), pwd) == out.end())
            out.push_back(pwd);
    return out;
}

} // namespace cli
