#include "model/cp1251.h"

#include <array>
#include <cstdint>

namespace cp1251 {
namespace {

// Code points of bytes 0x80..0xBF; 0x00..0x7F are ASCII and 0xC0..0xFF are U+0410..U+044F.
// 0x98 has no character in Windows-1251. It maps to U+0098 (as Windows itself decodes it), so that every byte
// of a file written by the original program survives a load and a save unchanged.
constexpr std::array<char32_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

char32_t decodeByte(unsigned char b) {
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return 0x0410 + (b - 0xC0);
    return kHigh[b - 0x80];
}

std::optional<unsigned char> encodeChar(char32_t c) {
    if (c < 0x80)
        return static_cast<unsigned char>(c);
    if (c >= 0x0410 && c <= 0x044F)
        return static_cast<unsigned char>(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

// Decodes one UTF-8 sequence at text[pos]; returns its length, or 0 when the bytes there are not valid UTF-8
// (truncated, overlong, a surrogate, beyond U+10FFFF, a stray continuation byte).
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    std::size_t len;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > text.size())
        return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    out = cp;
    return len;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        // Windows-1251 holds nothing beyond the Basic Multilingual Plane.
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::optional<std::string> fromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t c = 0;
        const std::size_t len = decodeUtf8(utf8, pos, c);
        if (len == 0)
            return std::nullopt;
        const auto b = encodeChar(c);
        if (!b)
            return std::nullopt;
        out += static_cast<char>(*b);
        pos += len;
    }
    return out;
}

std::string toUtf8(std::string_view cp1251Bytes) {
    std::string out;
    out.reserve(cp1251Bytes.size() * 2);
    for (const char ch : cp1251Bytes)
        appendUtf8(out, decodeByte(static_cast<unsigned char>(ch)));
    return out;
}

bool representable(std::string_view utf8) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t c = 0;
        const std::size_t len = decodeUtf8(utf8, pos, c);
        if (len == 0 || !encodeChar(c))
            return false;
        pos += len;
    }
    return true;
}

std::size_t charCount(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < utf8.size(); ++count) {
        char32_t c = 0;
        const std::size_t len = decodeUtf8(utf8, pos, c);
        pos += len == 0 ? 1 : len;
    }
    return count;
}

} // namespace cp1251
