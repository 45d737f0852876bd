// The line speaks Windows-1251; the unit keeps UTF-8. These two calls are the only crossing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace unitsim {

// Every byte has a character; a byte without one (0x98) becomes "?".
std::string lineToUtf8(std::string_view cp1251);

// nullopt when the text holds a character the line cannot carry, or is not UTF-8.
std::optional<std::string> utf8ToLine(std::string_view utf8);

// Unicode characters of a UTF-8 text (a stray byte counts as one).
std::size_t utf8Length(std::string_view utf8);

}  // namespace unitsim
