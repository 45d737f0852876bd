#include "cli/options.h"

#include <algorithm>

namespace cli {

std::optional<std::string> ParsedOptions::value(const std::string& name) const {
    const auto it = given.find(name);
    return it == given.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::string parseOptions(const Args& args, const std::vector<OptionSpec>& allowed, ParsedOptions& out) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a.compare(0, 2, "--") != 0) {
            out.plain.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const auto spec =
            std::find_if(allowed.begin(), allowed.end(), [&](const OptionSpec& s) { return a == s.name; });
        if (spec == allowed.end())
            return "unknown option " + a;
        if (spec->value == nullptr) {
            out.given[a].clear();
            continue;
        }
        if (i + 1 >= args.size())
            return a + " needs " + spec->value;
        out.given[a] = args[++i];
    }
    return {};
}

} // namespace cli
