#include "model/utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, DecodesAndCountsCharacters) {
    EXPECT_EQ(utf8::decode("aЖ€😀"), (std::u32string{U'a', U'Ж', U'€', U'😀'}));
    EXPECT_EQ(utf8::length("Главное"), 7u);
    EXPECT_EQ(utf8::length(""), 0u);
    EXPECT_EQ(utf8::encode(std::u32string(U"aЖ€😀")), "aЖ€😀");
}

TEST(Utf8, MalformedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(utf8::decode("\xff"), std::u32string{U'\uFFFD'});
    EXPECT_EQ(utf8::decode("\xd0"), std::u32string{U'\uFFFD'}) << "truncated sequence";
    EXPECT_EQ(utf8::decode("\xd0"
                           "a"),
              (std::u32string{U'\uFFFD', U'a'}));
    EXPECT_EQ(utf8::decode("\xc0\xaf"), (std::u32string{U'\uFFFD', U'\uFFFD'})) << "overlong slash";
    EXPECT_EQ(utf8::decode("\xed\xa0\x80").front(), U'\uFFFD') << "surrogate";
    EXPECT_FALSE(utf8::fitsCp1251(U'\uFFFD'));
}

TEST(Utf8, Windows1251Repertoire) {
    EXPECT_TRUE(utf8::fitsCp1251("Ёж № €"));
    EXPECT_TRUE(utf8::fitsCp1251(U'ё'));
    EXPECT_TRUE(utf8::fitsCp1251(char32_t{8}));
    EXPECT_FALSE(utf8::fitsCp1251("ü"));
    EXPECT_FALSE(utf8::fitsCp1251(U'日'));
}

} // namespace
