#include "report_test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const char* const kDiscoverySpec = "Select, 50, 1  ; Device, 75, 1  ; SN#, 60, 1 ; SWVer, 60, 1  "
                                   ";HWver,60,1 ;IPL Ver,60,1 ;SN#, 60,1 ";

TEST(ReportColumns, DiscoveryColumnTextMakesTheHeader) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    ASSERT_TRUE(list.DefineColumns(kDiscoverySpec));
    ASSERT_EQ(list.ColumnCount(), 7);
    const char* titles[] = {"Select", " Device", " SN#", " SWVer", "HWver", "IPL Ver", "SN#"};
    const int widths[] = {50, 75, 60, 60, 60, 60, 60};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(list.model()->headerData(column, Qt::Horizontal).toString(),
                  QString::fromLatin1(titles[column]));
        EXPECT_EQ(list.header()->sectionSize(column), widths[column]);
        EXPECT_EQ(list.GetColumnAlign(column), AlignCenter);
    }
}

TEST(ReportColumns, RedefiningReplacesRowsAndColumns) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(3);
    EXPECT_TRUE(list.DefineColumns("Name;Value, 40, 2"));
    EXPECT_EQ(list.RowCount(), 0);
    ASSERT_EQ(list.ColumnCount(), 2);
    EXPECT_EQ(list.header()->sectionSize(0), 100);
    EXPECT_EQ(list.GetColumnAlign(0), AlignLeft);
    EXPECT_EQ(list.GetColumnAlign(1), AlignRight);
    EXPECT_FALSE(list.DefineColumns(";;,;"));
    EXPECT_EQ(list.ColumnCount(), 0);
}

TEST(ReportColumns, AddAndRemoveColumnsKeepCells) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    list.DefineColumns("A;B");
    list.InsertRow(0, "a0");
    list.SetCellText(0, 1, "b0");
    EXPECT_EQ(list.AddColumn(1, "Mid", AlignRight, 30), 1);
    EXPECT_EQ(list.AddColumn(99, "End"), 3); // past the end appends
    EXPECT_EQ(list.AddColumn(-1, "Bad"), -1);
    EXPECT_EQ(list.GetCellText(0, 0), "a0");
    EXPECT_EQ(list.GetCellText(0, 1), "");
    EXPECT_EQ(list.GetCellText(0, 2), "b0");
    EXPECT_TRUE(list.RemoveColumn(0));
    EXPECT_FALSE(list.RemoveColumn(3));
    EXPECT_EQ(list.ColumnCount(), 3);
    EXPECT_EQ(list.GetCellText(0, 1), "b0");
    list.RemoveAllColumns();
    EXPECT_EQ(list.ColumnCount(), 0);
    EXPECT_EQ(list.RowCount(), 1);
}

TEST(ReportCells, HexCellsAndUserValues) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(1);
    EXPECT_TRUE(list.SetCellHex(0, 2, 255));
    EXPECT_EQ(list.GetCellText(0, 2), "FF");
    list.SetCellHex(0, 2, 256);
    EXPECT_EQ(list.GetCellText(0, 2), "0100");
    list.SetCellHex(0, 2, 65536);
    EXPECT_EQ(list.GetCellText(0, 2), "00010000");
    EXPECT_EQ(list.GetCellHex(0, 2), 65536u);
    list.SetCellText(0, 3, "");
    EXPECT_EQ(list.GetCellHex(0, 3), 0u);
    list.SetCellText(0, 3, "v1.2");
    EXPECT_EQ(list.GetCellHex(0, 3), 0u);

    EXPECT_EQ(list.GetRowData(0), 0u); // a new row's value
    EXPECT_TRUE(list.SetRowData(0, 0xCAFEF00D));
    EXPECT_EQ(list.GetRowData(0), 0xCAFEF00Du);

    // Out of range: nothing changes, neutral results.
    EXPECT_FALSE(list.SetCellHex(1, 2, 5));
    EXPECT_FALSE(list.SetCellHex(0, 7, 5));
    EXPECT_EQ(list.GetCellHex(-1, 2), 0u);
    EXPECT_FALSE(list.SetRowData(1, 3));
    EXPECT_EQ(list.GetRowData(1), 0u);
    EXPECT_EQ(list.GetCellText(0, -1), "");
    EXPECT_FALSE(list.SetCheck(5, true));
    EXPECT_EQ(list.ReadRowFlags(5), 0);
    EXPECT_FALSE(list.ApplyRowFlags(5, ItemSelected));
    EXPECT_FALSE(list.DeleteRow(5));
    EXPECT_EQ(list.RowCount(), 1);
}

TEST(ReportRows, InsertPositions) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    list.DefineColumns("A");
    EXPECT_EQ(list.InsertRow(0, "first"), 0);
    EXPECT_EQ(list.InsertRow(10, "last"), 1);
    EXPECT_EQ(list.InsertRow(1, "middle"), 1);
    EXPECT_EQ(list.InsertRow(-1, "never"), -1);
    ASSERT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.GetCellText(0, 0), "first");
    EXPECT_EQ(list.GetCellText(1, 0), "middle");
    EXPECT_EQ(list.GetCellText(2, 0), "last");
}

TEST(ReportRows, FiltersSelectRowsByTheirFlags) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(6);
    list.SetCheckMode(CheckMulti);
    list.SetCheck(1, true);
    list.SetCheck(2, true);
    list.SetCheck(4, true);
    EXPECT_TRUE(list.ApplyRowFlags(2, ItemSelected | ItemFocused));
    EXPECT_TRUE(list.ApplyRowFlags(3, ItemSelected));

    EXPECT_EQ(list.ReadRowFlags(2), ItemSelected | ItemChecked | ItemFocused);
    EXPECT_EQ(list.ReadRowFlags(0), ItemUnselected | ItemUnchecked | ItemUnfocused);
    EXPECT_EQ(list.CountRows(ItemAny), 6);
    EXPECT_EQ(list.CountRows(0), 0); // an empty filter matches nothing
    EXPECT_EQ(list.CountRows(ItemChecked), 3);
    EXPECT_EQ(list.CountRows(ItemSelected), 2);
    EXPECT_EQ(list.CountRows(ItemChecked | ItemSelected), 1);
    EXPECT_EQ(list.CountRows(ItemChecked | ItemUnchecked), 0);
    EXPECT_EQ(list.CountRows(ItemAny | ItemChecked), 6); // ItemAny wins

    EXPECT_EQ(list.FindNextRow(ItemChecked, -1), 1);
    EXPECT_EQ(list.FindNextRow(ItemChecked, 1), 2);
    EXPECT_EQ(list.FindNextRow(ItemChecked, 2), 4);
    EXPECT_EQ(list.FindNextRow(ItemChecked, 4), -1);
    EXPECT_EQ(list.FindNextRow(ItemChecked, -50), 1); // below -1 counts as -1
    EXPECT_EQ(list.FindNextRow(ItemAny, -7), 0);
    EXPECT_EQ(list.FindNextRow(ItemFocused), 2);

    // Select every ticked row, then delete the unticked ones.
    EXPECT_EQ(list.ApplyFlagsToRows(ItemChecked, ItemSelected), 3);
    EXPECT_EQ(list.CountRows(ItemSelected), 4);
    EXPECT_EQ(list.DeleteRows(ItemUnchecked), 3);
    ASSERT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.GetCellText(0, 1), "1:1");
    EXPECT_EQ(list.GetCellText(1, 1), "2:1");
    EXPECT_EQ(list.GetCellText(2, 1), "4:1");
    EXPECT_EQ(list.CountRows(ItemChecked), 3);

    EXPECT_TRUE(list.ApplyRowFlags(1, ItemUnfocused | ItemUnselected | ItemUnchecked));
    EXPECT_EQ(list.ReadRowFlags(1), ItemUnselected | ItemUnchecked | ItemUnfocused);
    EXPECT_EQ(list.DeleteRows(ItemAny), 3);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.DeleteRows(ItemAny), 0);
}

TEST(ReportRows, DeleteRowCanSelectTheNext) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(3);
    EXPECT_TRUE(list.DeleteRow(0, true));
    EXPECT_EQ(list.GetCellText(0, 1), "1:1");
    EXPECT_EQ(list.ReadRowFlags(0) & ItemSelected, ItemSelected);
    EXPECT_TRUE(list.DeleteRow(1, true)); // the last row: nothing follows
    EXPECT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.CountRows(ItemSelected), 1);
}

TEST(ReportChecks, SingleModeKeepsOneTick) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(4);
    list.SetCheckMode(CheckMulti);
    list.SetCheck(1, true);
    list.SetCheck(3, true);
    EXPECT_EQ(TickedRows(list), (std::vector<int>{1, 3}));
    list.SetCheckMode(CheckSingle); // keeps the first
    EXPECT_EQ(TickedRows(list), (std::vector<int>{1}));
    list.SetCheck(2, true);
    EXPECT_EQ(TickedRows(list), (std::vector<int>{2}));
    list.ApplyFlagsToRows(ItemAny, ItemChecked); // each tick unticks the others
    EXPECT_EQ(TickedRows(list).size(), 1u);
    list.SetCheck(0, false);
    EXPECT_EQ(list.CountRows(ItemChecked), 1);
    EXPECT_FALSE(list.SetCheckMode(7));
    EXPECT_EQ(list.GetCheckMode(), CheckSingle);
    EXPECT_TRUE(shown.notifications.empty()); // only mouse clicks notify
}

TEST(ReportChecks, BoxesAreDrawnOnlyAfterSetCheckMode) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(2);
    EXPECT_FALSE(list.CheckBoxesShown());
    EXPECT_TRUE(shown.CheckBoxArea(0).isEmpty()); // a tick shows nothing yet
    list.SetCheckMode(CheckMulti);
    const QRect box = shown.CheckBoxArea(0);
    EXPECT_FALSE(box.isEmpty());
    EXPECT_LT(box.width(), 30);
    list.SetCheckMode(CheckLocked);
    EXPECT_FALSE(shown.CheckBoxArea(0).isEmpty());
    list.SetCheckMode(CheckNone);
    EXPECT_TRUE(shown.CheckBoxArea(0).isEmpty());
}

TEST(ReportLook, GridLines) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(2);
    const QRect cell = list.visualRect(list.model()->index(0, 1));
    const QImage plain = shown.Render();
    list.ShowGridLines(true);
    const QImage grid = shown.Render();
    // A vertical line at the right edge of a cell, a horizontal one at its bottom.
    EXPECT_NE(plain.pixel(cell.right(), cell.center().y()),
              grid.pixel(cell.right(), cell.center().y()));
    EXPECT_NE(plain.pixel(cell.center().x(), cell.bottom()),
              grid.pixel(cell.center().x(), cell.bottom()));
    // Inside the cell nothing changes.
    EXPECT_EQ(plain.pixel(cell.left() + 2, cell.top() + 2),
              grid.pixel(cell.left() + 2, cell.top() + 2));
    list.ShowGridLines(false);
    EXPECT_EQ(shown.Render(), plain);
}

TEST(ReportLook, CellImages) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    shown.Fill(1);
    QPixmap red(16, 16);
    red.fill(Qt::red);
    list.SetImageList(ImageListSmall, {red});
    EXPECT_EQ(list.GetCellImage(0, 1), -1);
    const QRect cell = list.visualRect(list.model()->index(0, 1));
    auto redPixels = [&] {
        const QImage image = shown.Render();
        int count = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                count += image.pixel(x, y) == QColor(Qt::red).rgb() ? 1 : 0;
        return count;
    };
    EXPECT_EQ(redPixels(), 0);
    EXPECT_TRUE(list.SetCellImage(0, 1, 0));
    EXPECT_EQ(list.GetCellImage(0, 1), 0);
    EXPECT_EQ(redPixels(), 16 * 16);         // the row is high enough for the whole image
    EXPECT_TRUE(list.SetCellImage(0, 1, 5)); // no such image: nothing drawn
    EXPECT_EQ(redPixels(), 0);
    EXPECT_FALSE(list.SetCellImage(0, 9, 0));
    EXPECT_EQ(list.GetCellImage(3, 0), -1);
}

std::vector<QString> Column(const CReportCtrl& list, int column) {
    std::vector<QString> texts;
    for (int row = 0; row < list.RowCount(); ++row)
        texts.push_back(list.GetCellText(row, column));
    return texts;
}

void FillColumn(CReportCtrl& list, const std::vector<QString>& texts) {
    list.DefineColumns("Key, 80;Tag, 80");
    for (size_t i = 0; i < texts.size(); ++i) {
        const int row = list.InsertRow(static_cast<int>(i), texts[i]);
        list.SetCellText(row, 1, QString::number(i));
        list.SetRowData(row, static_cast<quint32>(100 + i));
    }
}

TEST(ReportSort, HeaderClicksAlternateAscendingAndDescending) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    FillColumn(list, {"1F", "9", "A", "10"});
    shown.ClickHeader(0);
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"9", "A", "10", "1F"})); // hex values
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 0, 1}));
    EXPECT_EQ(list.GetSortColumn(), 0);
    shown.ClickHeader(0);
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"1F", "10", "A", "9"}));
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 0, 0}));
    shown.ClickHeader(0);
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 0, 1}));
    EXPECT_EQ(shown.notifications.size(), 3u);

    // Inserting a row makes the next click ascending again.
    list.InsertRow(0, "2");
    EXPECT_EQ(list.GetSortColumn(), -1);
    shown.ClickHeader(0);
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"2", "9", "A", "10", "1F"}));
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 0, 1}));
    // Another column starts ascending.
    shown.ClickHeader(1);
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 1, 1}));
}

TEST(ReportSort, RealsThenText) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    FillColumn(list, {"10.25", "9.5", "1.3", "50%", "7.5%"});
    shown.ClickHeader(0);
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"1.3", "7.5%", "9.5", "10.25", "50%"}));

    FillColumn(list, {"beta", "Beta", "alpha", "10", "9"});
    shown.ClickHeader(0);
    // Text rules between words; "10" and "9" are compared as numbers with each
    // other but as text with the words.
    const auto sorted = Column(list, 0);
    EXPECT_EQ(sorted, (std::vector<QString>{"9", "10", "Beta", "alpha", "beta"}));
    shown.ClickHeader(0);
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"beta", "alpha", "Beta", "10", "9"}));
}

TEST(ReportSort, RowsCarryTheirRecordsTicksAndSelection) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    FillColumn(list, {"C", "A", "B"});
    list.SetCheckMode(CheckMulti);
    list.SetCheck(0, true);                            // "C"
    list.ApplyRowFlags(1, ItemSelected | ItemFocused); // "A"
    QPixmap blue(16, 16);
    blue.fill(Qt::blue);
    list.SetImageList(ImageListSmall, {blue});
    list.SetCellImage(2, 1, 0); // "B"
    ASSERT_TRUE(list.SortByColumn(0, true));
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"A", "B", "C"}));
    EXPECT_EQ(Column(list, 1), (std::vector<QString>{"1", "2", "0"}));
    EXPECT_EQ(list.GetRowData(0), 101u);
    EXPECT_EQ(list.GetRowData(2), 100u);
    EXPECT_EQ(TickedRows(list), (std::vector<int>{2}));
    EXPECT_EQ(list.ReadRowFlags(0), ItemSelected | ItemUnchecked | ItemFocused);
    EXPECT_EQ(list.CountRows(ItemSelected), 1);
    EXPECT_EQ(list.GetCellImage(1, 1), 0);
    EXPECT_EQ(list.GetCellImage(2, 1), -1);
}

TEST(ReportSort, NeedsAValidColumnAndAClickableHeader) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    FillColumn(list, {"b", "a"});
    EXPECT_FALSE(list.SortByColumn(2, true));
    EXPECT_FALSE(list.SortByColumn(-1, true));
    list.header()->setSectionsClickable(false);
    EXPECT_FALSE(list.SortByColumn(0, true));
    list.header()->setSectionsClickable(true);
    list.setHeaderHidden(true);
    EXPECT_FALSE(list.SortByColumn(0, true));
    EXPECT_EQ(Column(list, 0), (std::vector<QString>{"b", "a"}));
    EXPECT_TRUE(shown.notifications.empty());
    EXPECT_EQ(list.GetSortColumn(), -1);
}

TEST(ReportSort, MixedColumnOfManyRowsSortsWithoutHarm) {
    ShownReport shown;
    CReportCtrl& list = shown.list();
    std::vector<QString> texts;
    for (int i = 0; i < 600; ++i) {
        const QString kinds[] = {QString::number(i % 37), QString::number(i * 0.37),
                                 "w" + QString::number(i % 11), QString(),
                                 "-" + QString::number(i % 5)};
        texts.push_back(kinds[i % 5]);
    }
    FillColumn(list, texts);
    ASSERT_TRUE(list.SortByColumn(0, true));
    EXPECT_EQ(list.RowCount(), 600);
    std::vector<quint32> records;
    for (int row = 0; row < list.RowCount(); ++row)
        records.push_back(list.GetRowData(row));
    std::sort(records.begin(), records.end());
    for (quint32 i = 0; i < 600; ++i)
        ASSERT_EQ(records[i], 100 + i); // every row is still there exactly once
}

} // namespace

TEST(ReportAccessible, ReadsAsATableWhoseCheckBoxesSayCheckedOrNot) {
    ShownReport shown;
    shown.Fill(3);
    CReportCtrl& list = shown.list();
    list.SetCheckMode(1);
    list.SetCheck(1, true);
    QApplication::processEvents();

    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(face, nullptr);
    QAccessibleTableInterface* table = face->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->columnCount(), 7);
    EXPECT_EQ(face->childCount(), 7 * 4); // the header row and three rows of cells

    auto cellText = [&](int row, int column) {
        return table->cellAt(row, column)->text(QAccessible::Name);
    };
    auto ticked = [&](int row) { return table->cellAt(row, 0)->state().checked != 0; };
    EXPECT_EQ(cellText(2, 3), "2:3");
    EXPECT_FALSE(ticked(0));
    EXPECT_TRUE(ticked(1));
    EXPECT_FALSE(ticked(2));

    list.SetCheck(1, false);
    list.SetCheck(2, true);
    list.SetCellText(0, 1, "Radio Node");
    QApplication::processEvents();
    EXPECT_FALSE(ticked(1));
    EXPECT_TRUE(ticked(2));
    EXPECT_EQ(cellText(0, 1), "Radio Node");
}
