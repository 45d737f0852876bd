// The special combinations that a dial string may carry ("*" followed by fixed digits and X placeholders), and
// the per-field list of those the field's editor may insert.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One special combination: its ENTRY_ key, the pattern as written in a dial string, the group (one digit) that
// enables it, and its description.
class KT_RECORD_SPEC {
public:
    std::string name;
    std::string pattern;
    std::string group;
    std::string description;
};

// The specials of one digit-string field: lines of (description, entry) in table order. The entries are shared,
// fixed for the life of the program, so copies of a list refer to the same entries.
class KT_SPEC {
public:
    using Line = std::pair<std::string, const KT_RECORD_SPEC*>;

    // An empty list (no specials allowed).
    KT_SPEC() = default;
    // The specials of every group whose flag is set, groups 0 to 4, in table order.
    KT_SPEC(bool group0, bool group1, bool group2, bool group3, bool group4);

    bool hasSpecials = false;
    std::vector<Line> lines;

    int count() const { return static_cast<int>(lines.size()); }
    const std::string& text(int index) const { return lines.at(static_cast<std::size_t>(index)).first; }
    const KT_RECORD_SPEC& entry(int index) const { return *lines.at(static_cast<std::size_t>(index)).second; }
};

// Every special combination in table order.
const std::vector<KT_RECORD_SPEC>& allDialSpecials();
