// The one rule by which every zirezid-cli command reads its options, so that "--" and a mistyped option mean the
// same everywhere.
#pragma once

#include "cli/commands.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// An option a command takes: "--name VALUE" ("-o VALUE" where a command has a short one), or a flag when `value`
// is nullptr. `value` says what the value is, in Russian, for the message when it is missing ("тип устройства");
// "" says nothing more than that a value is missing.
struct OptionSpec {
    const char* name;
    const char* value = "";
};

struct ParsedOptions {
    std::map<std::string, std::string> given; // every option given, a flag with ""; a repeated one: the last
    Args plain;                               // the other arguments, in order
    bool has(const std::string& name) const { return given.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
};

// "--" ends the options (a TEXT that starts with "--" follows); any other word that starts with "--" must be an
// option of `allowed`, and an option with a value takes the next word whatever it is. A word with one dash is an
// option only where `allowed` names it ("-o"), so that a value such as "-5" stays a plain argument. Answers what
// is wrong, or "" when the arguments are good.
std::string parseOptions(const Args& args, const std::vector<OptionSpec>& allowed, ParsedOptions& out);

} // namespace cli
