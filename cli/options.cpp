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
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        const auto spec = optionsEnded ? allowed.end()
                                       : std::find_if(allowed.begin(), allowed.end(),
                                                      [&](const OptionSpec& s) { return a == s.name; });
        if (spec == allowed.end()) {
            if (!optionsEnded && a.compare(0, 2, "--") == 0)
                return "неизвестный параметр " + a;
            out.plain.push_back(a);
            continue;
        }
        if (spec->value == nullptr) {
            out.given[a].clear();
            continue;
        }
        if (i + 1 >= args.size())
            return "у параметра " + a + " не указано значение" +
                   (*spec->value != '\0' ? std::string(" (") + spec->value + ")" : std::string());
        out.given[a] = args[++i];
    }
    return {};
}

} // namespace cli
