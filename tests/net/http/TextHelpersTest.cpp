#include "tekstiunit.h"

#include <gtest/gtest.h>

TEST(IsCharAt, LooksOnlyInsideTheText) {
    EXPECT_TRUE(IsCharAt("abc", 1, 'a'));
    EXPECT_TRUE(IsCharAt("abc", 3, 'c'));
    EXPECT_FALSE(IsCharAt("abc", 2, 'c'));
    EXPECT_FALSE(IsCharAt("abc", 0, 'a'));
    EXPECT_FALSE(IsCharAt("abc", 4, '\0'));
    EXPECT_FALSE(IsCharAt("abc", -1, 'a'));
    EXPECT_FALSE(IsCharAt("", 1, '\0'));
}

TEST(StripChar, ModesRemoveTheirOccurrencesOnly) {
    const std::string s = "xxaxxbxx";
    EXPECT_EQ(StripChar('A', 'x', s), "ab");
    EXPECT_EQ(StripChar('B', 'x', s), "axxb");
    EXPECT_EQ(StripChar('L', 'x', s), "axxbxx");
    EXPECT_EQ(StripChar('R', 'x', s), "xxaxxb");
    EXPECT_EQ(StripChar('Q', 'x', s), s) << "an unknown mode changes nothing";
}

TEST(StripChar, ModeLetterIgnoresCase) {
    EXPECT_EQ(StripChar('a', '-', "-a-b-"), "ab");
    EXPECT_EQ(StripChar('b', '-', "-a-b-"), "a-b");
    EXPECT_EQ(StripChar('l', '-', "-a-b-"), "a-b-");
    EXPECT_EQ(StripChar('r', '-', "-a-b-"), "-a-b");
}

TEST(StripChar, TextOfOnlyThatCharacterBecomesEmpty) {
    for (char mode : {'A', 'B', 'L', 'R'}) EXPECT_EQ(StripChar(mode, '\r', "\r\r\r"), "") << mode;
    EXPECT_EQ(StripChar('A', 'x', ""), "");
    EXPECT_EQ(StripChar('A', '\0', std::string("a\0b", 3)), "ab");
}
