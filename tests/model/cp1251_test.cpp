#include "model/cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

// glibc's own CP1251 table is an independent check of ours.
std::string iconvDecode(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        return {};
    return std::string(out, sizeof out - outLeft);
}

TEST(Cp1251, EveryByteMatchesTheSystemTableAndRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = cp1251::toUtf8(one);
        if (b != 0x98) {
            const std::string expected = iconvDecode(static_cast<unsigned char>(b));
            if (!expected.empty()) {
                EXPECT_EQ(utf8, expected) << "byte " << b;
            }
        }
        EXPECT_EQ(cp1251::charCount(utf8), 1u) << "byte " << b;
        all += one;
    }
    // 0x98 has no character; it must still survive a load and a save.
    EXPECT_EQ(cp1251::toUtf8("\x98"), "\xC2\x98");
    const auto back = cp1251::fromUtf8(cp1251::toUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(Cp1251, RussianTextConvertsBothWays) {
    const std::string utf8 = "Меню №1 «Ёлка» — привет";
    const auto bytes = cp1251::fromUtf8(utf8);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), cp1251::charCount(utf8));
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[0]), 0xCC); // М
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[5]), 0xB9); // №
    EXPECT_EQ(cp1251::toUtf8(*bytes), utf8);
}

TEST(Cp1251, RefusesCharactersItCannotHoldAndInvalidUtf8) {
    for (const char* bad : {"中", "é", "😀", "Ω", "\xFF", "\xC0\x80", "\xE2\x82", "\xED\xA0\x80", "\x80", "ok\xC3"}) {
        EXPECT_FALSE(cp1251::representable(bad)) << bad;
        EXPECT_FALSE(cp1251::fromUtf8(bad).has_value()) << bad;
    }
    EXPECT_TRUE(cp1251::representable(""));
    EXPECT_TRUE(cp1251::representable("abc €"));
    EXPECT_EQ(cp1251::fromUtf8(""), std::string());
}

TEST(Cp1251, CountsCharactersNotBytes) {
    EXPECT_EQ(cp1251::charCount(""), 0u);
    EXPECT_EQ(cp1251::charCount("abc"), 3u);
    EXPECT_EQ(cp1251::charCount("Дом"), 3u);
    EXPECT_EQ(cp1251::charCount("€😀"), 2u);
    EXPECT_EQ(cp1251::charCount("a\xFF\xC3"), 3u); // broken bytes count one each
}

} // namespace
