#include "controls/report_cells.h"

#include <gtest/gtest.h>

namespace {

TEST(CellHex, WidthFollowsTheValue) {
    EXPECT_EQ(FormatCellHex(0), "00");
    EXPECT_EQ(FormatCellHex(0xFF), "FF");
    EXPECT_EQ(FormatCellHex(0x100), "0100");
    EXPECT_EQ(FormatCellHex(0xFFFF), "FFFF");
    EXPECT_EQ(FormatCellHex(0x10000), "00010000");
    EXPECT_EQ(FormatCellHex(0xDEADBEEF), "DEADBEEF");
}

TEST(CellHex, ReadsLikePercentX) {
    EXPECT_EQ(ParseCellHex(""), 0u);
    EXPECT_EQ(ParseCellHex("xyz"), 0u);
    EXPECT_EQ(ParseCellHex("   "), 0u);
    EXPECT_EQ(ParseCellHex("1a2B"), 0x1A2Bu);
    EXPECT_EQ(ParseCellHex("  0x1f"), 0x1Fu);
    EXPECT_EQ(ParseCellHex("0X"), 0u);
    EXPECT_EQ(ParseCellHex("ff rest"), 0xFFu);
    EXPECT_EQ(ParseCellHex("12g4"), 0x12u);
    EXPECT_EQ(ParseCellHex("+10"), 0x10u);
    EXPECT_EQ(ParseCellHex("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseCellHex("123456789ABCDEF"), 0xFFFFFFFFu);
}

TEST(CellHex, RoundTrip) {
    for (quint32 value : {0u, 1u, 0x7Fu, 0xFFu, 0x100u, 0xABCDu, 0x10000u, 0x123456u, 0xFFFFFFFFu})
        EXPECT_EQ(ParseCellHex(FormatCellHex(value)), value) << value;
}

int Compare(const char* a, const char* b) {
    return CompareCellTexts(QString::fromUtf8(a), QString::fromUtf8(b), QLocale::c());
}

TEST(CellCompare, WholeHexNumbersCompareByValue) {
    EXPECT_EQ(Compare("9", "10"), -1); // text order would put "10" first
    EXPECT_EQ(Compare("A", "1F"), -1); // 10 < 31
    EXPECT_EQ(Compare("ff", "FE"), 1); // case does not matter to numbers
    EXPECT_EQ(Compare("00FF", "FF"), 0);
    EXPECT_EQ(Compare("0x10", "F"), 1); // a 0x prefix is part of a number
    EXPECT_EQ(Compare(" 20", "3"), 1);  // leading spaces are skipped
    // Longer than 64 bits still compares exactly.
    EXPECT_EQ(Compare("100000000000000000000", "FFFFFFFFFFFFFFFFFFF"), 1);
    EXPECT_EQ(Compare("FFFFFFFFFFFFFFFFFFFE", "FFFFFFFFFFFFFFFFFFFF"), -1);
}

TEST(CellCompare, RealNumbersWhenNotBothHex) {
    EXPECT_EQ(Compare("9.5", "10.25"), -1); // text order would put "10.25" first
    EXPECT_EQ(Compare("1.3", "1.25"), 1);
    EXPECT_EQ(Compare("7.5%", "50%"), -1);
    EXPECT_EQ(Compare("2.0", "2"), 0);
    EXPECT_EQ(Compare("1e3", "999.5"), 1);
    // A sign makes no hexadecimal number: the values are compared as reals.
    EXPECT_EQ(Compare("-3", "2"), -1);
    EXPECT_EQ(Compare("-10", "-9"), -1);
}

TEST(CellCompare, TextWhenNotBothNumbers) {
    EXPECT_EQ(Compare("5%%", "40%"), 1); // "5%%" is no number: "4" < "5"
    EXPECT_EQ(Compare("9 ", "10"), 1);   // a trailing space is not a number: text
    EXPECT_EQ(Compare("nan", "1.5"), 1); // not a number
    EXPECT_EQ(Compare("inf", "1.5"), 1);
    EXPECT_EQ(Compare("Zed", "apple"), -1); // case-sensitive
    EXPECT_EQ(Compare("abc", "abd"), -1);
    EXPECT_EQ(Compare("abc", "abc"), 0);
    EXPECT_EQ(Compare("", "1"), -1);
    EXPECT_EQ(Compare("", ""), 0);
    EXPECT_EQ(Compare("10", "1.5x"), 1); // "." sorts before "0"
}

TEST(CellCompare, DatesInTheLocale) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    auto compare = [&](const char* a, const char* b) {
        return CompareCellTexts(QString::fromLatin1(a), QString::fromLatin1(b), us);
    };
    ASSERT_TRUE(us.toDate("12/1/23", QLocale::ShortFormat).isValid());
    EXPECT_EQ(compare("12/1/23", "1/2/24"), -1); // text order would be the reverse
    EXPECT_EQ(compare("1/2/24", "12/1/23"), 1);
    EXPECT_EQ(compare("3/4/22", "3/4/22"), 0);
    // A date against a plain word is compared as text.
    EXPECT_EQ(compare("12/1/23", "Apple"), -1);
}

} // namespace
