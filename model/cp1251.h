// Windows-1251 codec: the one place where the program's UTF-8 texts meet the single-byte texts of the
// settings file, the unit's command lines and the message-file names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cp1251 {

// nullopt when some character has no Windows-1251 form, or when the text is not valid UTF-8.
std::optional<std::string> fromUtf8(std::string_view utf8);

// Every byte has a character, so this never fails (0x98 decodes to U+0098, see cp1251.cpp).
std::string toUtf8(std::string_view cp1251Bytes);

// True when fromUtf8 would succeed.
bool representable(std::string_view utf8);

// Unicode characters, not bytes. A byte that does not start a valid UTF-8 sequence counts as one character,
// so a broken text never comes out shorter than it looks.
std::size_t charCount(std::string_view utf8);

} // namespace cp1251
