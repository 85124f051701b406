#include "monitor/hex_text.h"

#include <gtest/gtest.h>

#include <QString>

#include <vector>

namespace {

std::vector<int> Parse(const char* text) {
    std::uint8_t buffer[64];
    const int n = ParseHexString(QString::fromLatin1(text), buffer, 64);
    return std::vector<int>(buffer, buffer + n);
}

TEST(ParseHexString, SeparatorsOfAnyKindAndNumber) {
    const std::vector<int> expected{0xB0, 0x01, 0x20};
    EXPECT_EQ(Parse("B0 01 20"), expected);
    EXPECT_EQ(Parse("b0,1,20"), expected);
    EXPECT_EQ(Parse("B0 1 20"), expected);
    EXPECT_EQ(Parse("   B0   01  20    "), expected);
    EXPECT_EQ(Parse("B0g01zz20"), expected);
}

TEST(ParseHexString, RunsKeepTheirLastTwoDigits) {
    EXPECT_EQ(Parse("B00120"), std::vector<int>{0x20});
    EXPECT_EQ(Parse("7"), std::vector<int>{0x07});
    EXPECT_EQ(Parse("0x12"), (std::vector<int>{0x00, 0x12}));
    EXPECT_EQ(Parse("fFf"), std::vector<int>{0xFF});
}

TEST(ParseHexString, TextWithoutDigitsGivesNothing) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("  ,; xyz").empty());
    // Letters beyond f and non-Latin characters are separators too.
    std::uint8_t buffer[4];
    EXPECT_EQ(ParseHexString(QStringLiteral("\u00e4\u0410 1\u00df2"), buffer, 4), 2);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1], 2);
}

TEST(ParseHexString, CountsBeyondTheBufferButNeverWritesPastIt) {
    std::uint8_t buffer[5] = {0, 0, 0, 0xEE, 0xEE};
    EXPECT_EQ(ParseHexString(QStringLiteral("1 2 3 4 5 6"), buffer, 3), 6);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(buffer[3], 0xEE);

    QString text;
    for (int i = 0; i < 1025; ++i)
        text += QStringLiteral("%1 ").arg(i & 0x7F, 2, 16, QLatin1Char('0'));
    std::vector<std::uint8_t> big(1024);
    EXPECT_EQ(ParseHexString(text, big.data(), 1024), 1025);
}

} // namespace
