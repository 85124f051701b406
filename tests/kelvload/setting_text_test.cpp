#include "loader/setting_text.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingText, ReadsDecimalHexadecimalAndOctalAsPercentIDoes) {
    EXPECT_EQ(ParseIntSetting("5"), 5);
    EXPECT_EQ(ParseIntSetting("0x3"), 3);
    EXPECT_EQ(ParseIntSetting("0X1f"), 31);
    EXPECT_EQ(ParseIntSetting("010"), 8);
    EXPECT_EQ(ParseIntSetting("0"), 0);
    EXPECT_EQ(ParseIntSetting("-2"), -2);
    EXPECT_EQ(ParseIntSetting("+7"), 7);
    EXPECT_EQ(ParseIntSetting("  \t12"), 12);
}

TEST(SettingText, IgnoresWhatFollowsTheNumber) {
    EXPECT_EQ(ParseIntSetting("6 bits"), 6);
    EXPECT_EQ(ParseIntSetting("09"), 0); // octal stops at the 9
    EXPECT_EQ(ParseIntSetting("12abc"), 12);
}

TEST(SettingText, TextWithoutANumberOrOutOfRangeGivesNothing) {
    EXPECT_FALSE(ParseIntSetting(""));
    EXPECT_FALSE(ParseIntSetting("   "));
    EXPECT_FALSE(ParseIntSetting("abc"));
    EXPECT_FALSE(ParseIntSetting("-"));
    EXPECT_FALSE(ParseIntSetting("2147483648"));
    EXPECT_FALSE(ParseIntSetting("-2147483649"));
    EXPECT_FALSE(ParseIntSetting("99999999999999999999999"));
    EXPECT_EQ(ParseIntSetting("2147483647"), 2147483647);
    EXPECT_EQ(ParseIntSetting("-2147483648"), -2147483647 - 1);
}

TEST(SettingText, ReadsOnlyTheViewGivenEvenWithoutATerminator) {
    const char buffer[] = {'4', '2', '7'};
    EXPECT_EQ(ParseIntSetting(std::string_view(buffer, 2)), 42);
}

TEST(SettingText, StoresDecimalTextThatReadsBack) {
    for (std::int32_t value : {0, 1, 6, 44, -1, 2147483647, -2147483647 - 1}) {
        const std::string text = FormatIntSetting(value);
        EXPECT_EQ(text.find_first_not_of("-0123456789"), std::string::npos) << text;
        EXPECT_EQ(ParseIntSetting(text), value) << text;
    }
    EXPECT_EQ(FormatIntSetting(5), "5");
}

} // namespace
