#include "model/dial_specials.h"

#include <gtest/gtest.h>

namespace {

const KT_SPEC all(true, true, true, true, true);

TEST(DialString, DigitsThenMenuJump) {
    const auto e = parseDialString("12*9412", all);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].code, "");
    EXPECT_EQ(e[0].meaning, "12");
    EXPECT_EQ(e[0].text(), "12");
    EXPECT_EQ(e[1].code, "*9412");
    EXPECT_EQ(e[1].param, "12");
    EXPECT_EQ(e[1].meaning, "Перейти к меню 12");
    ASSERT_NE(e[1].entry, nullptr);
    EXPECT_EQ(e[1].entry->name, "ENTRY_TOMENU");
}

TEST(DialString, SpecialsWithoutAndWithOnePlaceholder) {
    const auto e = parseDialString("  ***1*6*503*93  ", all);
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].code, "**");
    EXPECT_EQ(e[0].meaning, "Вставить *");
    EXPECT_EQ(e[1].code, "*1");
    EXPECT_EQ(e[2].code, "*6");
    EXPECT_EQ(e[3].code, "*503");
    EXPECT_EQ(e[3].meaning, "Пропустить 3 цифр, X=1..9") << "only the first run of X is filled";
    EXPECT_EQ(e[4].code, "*93");
    EXPECT_EQ(e[4].param, "");
}

TEST(DialString, UnknownCharactersVanish) {
    const auto e = parseDialString("1*#2*9a*90", all);
    // An unmatched "*" goes alone; the digits after it are plain digits again.
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].meaning, "1");
    EXPECT_EQ(e[1].meaning, "2");
    EXPECT_EQ(e[2].meaning, "9");
    EXPECT_EQ(e[3].meaning, "90");

    // Only the field's own specials are known.
    const KT_SPEC starsOnly(true, false, false, false, false);
    const auto f = parseDialString("*6**", starsOnly);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].meaning, "6");
    EXPECT_EQ(f[1].code, "**");
    EXPECT_TRUE(parseDialString("", all).empty());
    EXPECT_TRUE(parseDialString("   ", all).empty());
}

TEST(DialString, Matching) {
    std::string code, param;
    EXPECT_TRUE(matchDialSpecial("*95XXX", "*950071", code, param));
    EXPECT_EQ(code, "*95007");
    EXPECT_EQ(param, "007");
    EXPECT_FALSE(matchDialSpecial("*95XXX", "*9500", code, param)) << "too short";
    EXPECT_FALSE(matchDialSpecial("*8XX", "*8a1", code, param));
    EXPECT_FALSE(matchDialSpecial("*91XX", "*9012", code, param));
}

TEST(DialString, PiecesAndRanges) {
    EXPECT_EQ(dialSpecialPiece("*95XXX", 7), "*95007");
    EXPECT_EQ(dialSpecialPiece("*94XX", 12), "*9412");
    EXPECT_EQ(dialSpecialPiece("*50X", 3), "*503");
    EXPECT_EQ(dialSpecialPiece("**", 0), "**");
    EXPECT_EQ(dialSpecialRange("*8XX", 50), std::make_pair(1, 99));
    EXPECT_EQ(dialSpecialRange("*50X", 50), std::make_pair(1, 9));
    EXPECT_EQ(dialSpecialRange("*94XX", 50), std::make_pair(0, 49));
    EXPECT_EQ(dialSpecialRange("*95XXX", 50), std::make_pair(0, 999));
    EXPECT_EQ(dialSpecialRange("*93", 50), std::make_pair(0, 0));
}

} // namespace
