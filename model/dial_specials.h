// The special combinations that a dial string may carry ("*" followed by fixed digits and X placeholders),
// and the per-field list of those the field's editor may insert.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One special combination: its ENTRY_ key, the pattern as written in a dial string, the group (one digit)
// that enables it, and its description.
class KT_RECORD_SPEC {
public:
    std::string name;
    std::string pattern;
    std::string group;
    std::string description;
};

// The specials of one digit-string field: lines of (description, entry) in table order. The entries are
// shared, fixed for the life of the program, so copies of a list refer to the same entries.
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

// One element of a dial string: a run of plain digits (empty code, the digits as meaning and parameter), or a
// special (the matched characters as code, the entry's description with its placeholders filled in as
// meaning, and the digits at the placeholders as parameter).
struct KT_DIAL_ELEMENT {
    std::string code;
    std::string meaning;
    std::string param;
    const KT_RECORD_SPEC* entry = nullptr; // the matched special, nullptr for digits

    // The text the element stands for in the string: its code, or its meaning for plain digits.
    const std::string& text() const { return code.empty() ? meaning : code; }
};

// Matches a special's pattern against the start of the rest of a dial string. On a match, code receives the
// matched characters and param the digits at the X placeholders (empty without placeholders).
bool matchDialSpecial(const std::string& pattern, const std::string& rest, std::string& code, std::string& param);

// Splits a dial string into its elements using the field's specials. Characters that start no element (a "*"
// that matches no special, any character but a digit or "*") are skipped.
std::vector<KT_DIAL_ELEMENT> parseDialString(const std::string& text, const KT_SPEC& specials);

// The piece the editor inserts for a special: the pattern without its trailing X characters followed by the
// number written with exactly as many digits as the pattern has X (zero-padded).
std::string dialSpecialPiece(const std::string& pattern, int number);

// The numbers a special's placeholders may take: 1 .. 10^n - 1, for "*94XX" the menus 0 .. menuCount - 1, for
// "*95XXX" 0 .. 999. {0, 0} for a pattern without placeholders.
std::pair<int, int> dialSpecialRange(const std::string& pattern, int menuCount);
