// UTF-8 helpers for the model's texts: lengths and character tests count Unicode characters, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf8 {

// The code points of a UTF-8 text; a malformed byte becomes U+FFFD, so it can never pass a character test.
std::u32string decode(std::string_view text);

std::string encode(char32_t ch);
std::string encode(std::u32string_view text);

// Number of Unicode characters.
std::size_t length(std::string_view text);

// True when every character of the text has a Windows-1251 form (the encoding of files and of the unit).
bool fitsCp1251(std::string_view text);
bool fitsCp1251(char32_t ch);

} // namespace utf8
