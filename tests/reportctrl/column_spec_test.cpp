#include "controls/report_columns.h"

#include <gtest/gtest.h>

namespace {

TEST(ColumnSpec, DiscoveryWindowColumnsKeepTheirLeadingSpaces) {
    const auto columns =
        ParseColumnSpec("Select, 50, 1  ; Device, 75, 1  ; SN#, 60, 1 ; SWVer, 60, "
                        "1  ;HWver,60,1 ;IPL Ver,60,1 ;SN#, 60,1 ");
    ASSERT_EQ(columns.size(), 7u);
    const char* titles[] = {"Select", " Device", " SN#", " SWVer", "HWver", "IPL Ver", "SN#"};
    const int widths[] = {50, 75, 60, 60, 60, 60, 60};
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(columns[i].title, QString::fromLatin1(titles[i])) << i;
        EXPECT_EQ(columns[i].width, widths[i]) << i;
        EXPECT_EQ(columns[i].align, AlignCenter) << i;
    }
}

TEST(ColumnSpec, TitleOnlyGetsWidth100AndLeftAlignment) {
    const auto columns = ParseColumnSpec("Select, 50, 1  ; Device, 75, 1;Name");
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[1].title, " Device");
    EXPECT_EQ(columns[1].width, 75);
    EXPECT_EQ(columns[2].title, "Name");
    EXPECT_EQ(columns[2].width, 100);
    EXPECT_EQ(columns[2].align, AlignLeft);
}

TEST(ColumnSpec, AlignmentNumbers) {
    const auto columns = ParseColumnSpec("a,10,0;b,10, 2;c,10,3;d,10,x;e,10,1x;f,10");
    ASSERT_EQ(columns.size(), 6u);
    EXPECT_EQ(columns[0].align, AlignLeft);
    EXPECT_EQ(columns[1].align, AlignRight);
    EXPECT_EQ(columns[2].align, AlignLeft);
    EXPECT_EQ(columns[3].align, AlignLeft);
    EXPECT_EQ(columns[4].align, AlignCenter);
    EXPECT_EQ(columns[5].align, AlignLeft);
}

TEST(ColumnSpec, EmptyPiecesAreDroppedAndBlankTitlesKept) {
    // ",," gives no fields; the empty field between commas of "b,,7" is dropped,
    // so 7 becomes the width; a blank title is a title.
    const auto columns = ParseColumnSpec(";;a;,,;b,,7;;  ;");
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].title, "a");
    EXPECT_EQ(columns[1].title, "b");
    EXPECT_EQ(columns[1].width, 7);
    EXPECT_EQ(columns[2].title, "  ");
    EXPECT_EQ(columns[2].width, 100);
    EXPECT_TRUE(ParseColumnSpec("").empty());
    EXPECT_TRUE(ParseColumnSpec(";;,;").empty());
}

TEST(ColumnSpec, WidthIsReadLikeAtoiAndNeverNegative) {
    const auto columns = ParseColumnSpec("a, 12px;b,abc;c,-40;d,\t+8");
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0].width, 12);
    EXPECT_EQ(columns[1].width, 0);
    EXPECT_EQ(columns[2].width, 0);
    EXPECT_EQ(columns[3].width, 8);
}

TEST(ColumnSpec, LeadingIntSaturates) {
    EXPECT_EQ(ParseLeadingInt("  -17abc"), -17);
    EXPECT_EQ(ParseLeadingInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseLeadingInt("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(ParseLeadingInt(""), 0);
    EXPECT_EQ(ParseLeadingInt("- 5"), 0);
}

} // namespace
