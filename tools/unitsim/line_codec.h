// The line speaks Windows-1251; the unit keeps UTF-8. These two calls are the only crossing, on the model's
// codec.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace unitsim {

// Every byte has a character, so this never fails.
std::string lineToUtf8(std::string_view cp1251);

// nullopt when the text holds a character the line cannot carry, or is not UTF-8.
std::optional<std::string> utf8ToLine(std::string_view utf8);

} // namespace unitsim
