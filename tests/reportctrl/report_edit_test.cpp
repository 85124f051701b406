#include "report_test_support.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ReportEdit : public ::testing::Test {
protected:
    void SetUp() override { shown.Fill(4); }
    CReportCtrl& list() { return shown.list(); }
    // The visible in-place editor, or null.
    QLineEdit* Editor() {
        auto* editor = list().viewport()->findChild<QLineEdit*>();
        return editor && editor->isVisible() ? editor : nullptr;
    }
    ShownReport shown;
};

TEST_F(ReportEdit, WithEditingOffASecondClickOpensNoEditor) {
    shown.ClickCell(1, 2);
    shown.ClickCell(1, 2);
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_FALSE(list().BeginCellEdit(1, 2));
}

TEST_F(ReportEdit, SecondClickOnTheSelectedRowEditsAndReturnCommits) {
    list().AllowEditing(true);
    shown.ClickCell(1, 2); // selects
    EXPECT_EQ(Editor(), nullptr);
    shown.ClickCell(1, 2); // edits
    QLineEdit* editor = Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(list().GetEditRow(), 1);
    EXPECT_EQ(list().GetEditColumn(), 2);
    EXPECT_EQ(editor->text(), "1:2");
    EXPECT_EQ(editor->selectedText(), "1:2");
    EXPECT_EQ(editor->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(
        list().visualRect(list().model()->index(1, 2)).contains(editor->geometry().center()));

    QTest::keyClicks(editor, "BEEF");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(list().GetCellText(1, 2), "BEEF");
    EXPECT_EQ(list().GetCellHex(1, 2), 0xBEEFu);
    ASSERT_EQ(shown.notifications.size(), 1u);
    EXPECT_EQ(shown.notifications[0], (Notification{NotifyEditCommitted, 1, 2}));
}

TEST_F(ReportEdit, EscapeDiscardsAndUnchangedTextSendsNothing) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(0, 1));
    QTest::keyClicks(Editor(), "lost");
    EXPECT_TRUE(list().BeginCellEdit(0, 1)); // the same cell again: nothing changes
    EXPECT_EQ(Editor()->text(), "lost");
    QTest::keyClick(Editor(), Qt::Key_Escape);
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(list().GetCellText(0, 1), "0:1");

    ASSERT_TRUE(list().BeginCellEdit(0, 1));
    EXPECT_FALSE(list().FinishCellEdit(true)); // same text: no change
    EXPECT_FALSE(list().FinishCellEdit(true)); // nothing running
    EXPECT_TRUE(shown.notifications.empty());
}

TEST_F(ReportEdit, TabMovesRightAndEndsAfterTheLastColumn) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(2, 5));
    QTest::keyClicks(Editor(), "x");
    QTest::keyClick(Editor(), Qt::Key_Tab);
    EXPECT_EQ(list().GetCellText(2, 5), "x");
    EXPECT_EQ(list().GetEditRow(), 2);
    EXPECT_EQ(list().GetEditColumn(), 6);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), "2:6");
    QTest::keyClick(Editor(), Qt::Key_Tab); // wraps to column 0, which is never edited
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(shown.notifications.size(), 1u);
}

TEST_F(ReportEdit, UpAndDownMoveBetweenRows) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(1, 3));
    QTest::keyClicks(Editor(), "up");
    QTest::keyClick(Editor(), Qt::Key_Up);
    EXPECT_EQ(list().GetCellText(1, 3), "up");
    EXPECT_EQ(list().GetEditRow(), 0);
    EXPECT_EQ(list().GetEditColumn(), 3);
    EXPECT_EQ(list().FindNextRow(ItemSelected | ItemFocused), 0);
    QTest::keyClick(Editor(), Qt::Key_Up); // no row above: the edit ends
    EXPECT_FALSE(list().IsEditing());

    ASSERT_TRUE(list().BeginCellEdit(2, 3));
    QTest::keyClick(Editor(), Qt::Key_Down);
    EXPECT_EQ(list().GetEditRow(), 3);
    QTest::keyClick(Editor(), Qt::Key_Down);
    EXPECT_FALSE(list().IsEditing());
}

TEST_F(ReportEdit, DownScrollsTheNextRowIntoView) {
    for (int row = 4; row < 60; ++row)
        list().InsertRow(row, QString::number(row));
    list().AllowEditing(true);
    const int lastVisible = list().indexAt(QPoint(5, list().viewport()->height() - 2)).row();
    ASSERT_GT(lastVisible, 0);
    ASSERT_TRUE(list().BeginCellEdit(lastVisible, 1));
    QTest::keyClick(Editor(), Qt::Key_Down);
    QTest::keyClick(Editor(), Qt::Key_Down);
    ASSERT_EQ(list().GetEditRow(), lastVisible + 2);
    EXPECT_TRUE(list().viewport()->rect().contains(Editor()->geometry()));
}

TEST_F(ReportEdit, ColumnZeroIsNeverEdited) {
    list().AllowEditing(true);
    EXPECT_FALSE(list().BeginCellEdit(1, 0));
    EXPECT_FALSE(list().BeginCellEdit(1, 7));
    EXPECT_FALSE(list().BeginCellEdit(9, 1));
    shown.ClickCell(1, 0);
    shown.ClickCell(1, 0);
    EXPECT_FALSE(list().IsEditing());
}

TEST_F(ReportEdit, ClickWhileEditingCommitsAndStartsNoNewEdit) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(1, 2));
    QTest::keyClicks(Editor(), "new");
    shown.ClickCell(1, 4); // row 1 is selected and focused, but an edit was running
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(list().GetCellText(1, 2), "new");
    EXPECT_EQ(shown.notifications.size(), 1u);
    shown.ClickCell(1, 4);
    EXPECT_EQ(list().GetEditColumn(), 4);
}

TEST_F(ReportEdit, SpaceTypesIntoTheEditor) {
    list().AllowEditing(true);
    list().SetCheckMode(CheckMulti);
    ASSERT_TRUE(list().BeginCellEdit(1, 2));
    QTest::keyClicks(Editor(), "a b");
    QTest::keyClick(Editor(), Qt::Key_Enter);
    EXPECT_EQ(list().GetCellText(1, 2), "a b");
    EXPECT_TRUE(TickedRows(list()).empty());
}

TEST_F(ReportEdit, TurningEditingOffCommits) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(3, 6));
    Editor()->setText("kept");
    list().AllowEditing(false);
    EXPECT_FALSE(list().IsEditing());
    EXPECT_EQ(list().GetCellText(3, 6), "kept");
}

TEST_F(ReportEdit, DeletingTheEditedRowDiscardsTheEdit) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().BeginCellEdit(2, 1));
    Editor()->setText("gone");
    EXPECT_TRUE(list().DeleteRow(2));
    EXPECT_FALSE(list().IsEditing());
    ASSERT_TRUE(list().BeginCellEdit(2, 1)); // now the former row 3
    Editor()->setText("also gone");
    EXPECT_EQ(list().DeleteRows(ItemAny), 3);
    EXPECT_FALSE(list().IsEditing());
    EXPECT_TRUE(shown.notifications.empty());
}

TEST_F(ReportEdit, EditorStartsPastTheCellImage) {
    QPixmap green(16, 16);
    green.fill(Qt::green);
    list().SetImageList(ImageListSmall, {green});
    list().SetCellImage(1, 3, 0);
    list().AllowEditing(true);
    const QRect cell = list().visualRect(list().model()->index(1, 3));
    ASSERT_TRUE(list().BeginCellEdit(1, 3));
    EXPECT_EQ(Editor()->geometry().left(), cell.left() + 16);
    ASSERT_TRUE(list().BeginCellEdit(1, 2));
    EXPECT_EQ(Editor()->geometry().left(), list().visualRect(list().model()->index(1, 2)).left());
}

TEST_F(ReportEdit, CommittedEditMarksTheListUnsorted) {
    list().AllowEditing(true);
    ASSERT_TRUE(list().SortByColumn(1, true));
    ASSERT_TRUE(list().SortByColumn(1, false));
    ASSERT_TRUE(list().BeginCellEdit(0, 1));
    Editor()->setText("zz");
    QTest::keyClick(Editor(), Qt::Key_Return);
    EXPECT_EQ(list().GetSortColumn(), -1);
    shown.ClickHeader(1); // ascending again
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifySorted, 1, 1}));
}

TEST_F(ReportEdit, HandlerMayStartTheNextEdit) {
    list().AllowEditing(true);
    list().SetNotifyHandler([&](std::uint32_t message, std::uint32_t row, std::int32_t column) {
        if (message == NotifyEditCommitted)
            list().BeginCellEdit(static_cast<int>(row) + 1, column);
    });
    ASSERT_TRUE(list().BeginCellEdit(0, 2));
    Editor()->setText("first");
    QTest::keyClick(Editor(), Qt::Key_Return);
    EXPECT_EQ(list().GetCellText(0, 2), "first");
    EXPECT_EQ(list().GetEditRow(), 1);
    EXPECT_EQ(list().GetEditColumn(), 2);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), "1:2");
}

} // namespace
