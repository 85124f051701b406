#include "report_test_support.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

class ReportMouse : public ::testing::Test {
protected:
    void SetUp() override { shown.Fill(4); }
    CReportCtrl& list() { return shown.list(); }
    ShownReport shown;
};

TEST_F(ReportMouse, ClickOnBoxTicksSelectsAndNotifies) {
    list().SetCheckMode(CheckMulti);
    list().ApplyRowFlags(3, ItemSelected | ItemFocused);
    shown.ClickCheckBox(1);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{1}));
    ASSERT_EQ(shown.notifications.size(), 1u);
    EXPECT_EQ(shown.notifications[0], (Notification{NotifyCheckChanged, 1, MouseLeftDown}));
    EXPECT_EQ(list().FindNextRow(ItemSelected), 1);
    EXPECT_EQ(list().CountRows(ItemSelected), 1);
    EXPECT_EQ(list().FindNextRow(ItemFocused), 1);

    shown.ClickCheckBox(2);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{1, 2}));
    shown.ClickCheckBox(1);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{2}));
    EXPECT_EQ(shown.notifications.size(), 3u);
}

TEST_F(ReportMouse, TickingSelectsOnlyTheTickedRowEvenWithModifiers) {
    list().SetCheckMode(CheckMulti);
    list().ApplyRowFlags(3, ItemSelected | ItemFocused);
    QTest::mouseClick(list().viewport(), Qt::LeftButton, Qt::ControlModifier,
                      shown.CheckBoxArea(1).center());
    QTest::mouseClick(list().viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      shown.CheckBoxArea(0).center());
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{0, 1}));
    EXPECT_EQ(list().CountRows(ItemSelected), 1);
    EXPECT_EQ(list().FindNextRow(ItemSelected | ItemFocused), 0);
}

TEST_F(ReportMouse, ClickBesideTheBoxOnlySelects) {
    list().SetCheckMode(CheckMulti);
    shown.ClickCell(2, 3);
    shown.ClickCell(1, 0); // column 0, right of the box
    EXPECT_TRUE(TickedRows(list()).empty());
    EXPECT_TRUE(shown.notifications.empty());
    EXPECT_EQ(list().FindNextRow(ItemSelected | ItemFocused), 1);
}

TEST_F(ReportMouse, OnlyTheLeftButtonTicks) {
    list().SetCheckMode(CheckMulti);
    shown.ClickCheckBox(1, Qt::RightButton);
    shown.ClickCheckBox(2, Qt::MiddleButton);
    EXPECT_TRUE(TickedRows(list()).empty());
    EXPECT_TRUE(shown.notifications.empty());
}

TEST_F(ReportMouse, DoubleClickTicksTwice) {
    list().SetCheckMode(CheckMulti);
    shown.DoubleClickCheckBox(2);
    EXPECT_TRUE(TickedRows(list()).empty());
    ASSERT_EQ(shown.notifications.size(), 2u);
    EXPECT_EQ(shown.notifications[0], (Notification{NotifyCheckChanged, 2, MouseLeftDown}));
    EXPECT_EQ(shown.notifications[1], (Notification{NotifyCheckChanged, 2, MouseLeftDoubleClick}));
}

TEST_F(ReportMouse, SingleModeUnticksTheOthers) {
    list().SetCheckMode(CheckSingle);
    list().SetCheck(0, true);
    shown.ClickCheckBox(2);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{2}));
    EXPECT_EQ(shown.notifications.back(), (Notification{NotifyCheckChanged, 2, MouseLeftDown}));
    shown.ClickCheckBox(3);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{3}));
    shown.ClickCheckBox(3); // unticking leaves none
    EXPECT_TRUE(TickedRows(list()).empty());
    EXPECT_EQ(shown.notifications.size(), 3u);
}

TEST_F(ReportMouse, LockedModeIgnoresClicks) {
    list().SetCheckMode(CheckLocked);
    list().SetCheck(1, true);
    list().ApplyRowFlags(0, ItemSelected | ItemFocused);
    shown.ClickCheckBox(1);
    shown.ClickCheckBox(2);
    shown.DoubleClickCheckBox(3);
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{1}));
    EXPECT_TRUE(shown.notifications.empty());
    // The program still ticks rows.
    EXPECT_TRUE(list().SetCheck(2, true));
    EXPECT_EQ(TickedRows(list()), (std::vector<int>{1, 2}));
}

TEST_F(ReportMouse, WithoutBoxesClicksTickNothing) {
    const QRect box = [&] {
        list().SetCheckMode(CheckMulti);
        const QRect area = shown.CheckBoxArea(1);
        list().SetCheckMode(CheckNone);
        return area;
    }();
    ASSERT_FALSE(box.isEmpty());
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_TRUE(TickedRows(list()).empty());
    EXPECT_TRUE(shown.notifications.empty());
    EXPECT_EQ(list().FindNextRow(ItemSelected), 1);
}

TEST_F(ReportMouse, SpaceBarChangesNothing) {
    list().SetCheckMode(CheckMulti);
    list().setFocus();
    list().ApplyRowFlags(2, ItemSelected | ItemFocused);
    QTest::keyClick(&list(), Qt::Key_Space);
    QTest::keyClick(&list(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(TickedRows(list()).empty());
    EXPECT_EQ(list().ReadRowFlags(2), ItemSelected | ItemUnchecked | ItemFocused);
    EXPECT_EQ(list().CountRows(ItemSelected), 1);
    // Other keys still move through the list.
    QTest::keyClick(&list(), Qt::Key_Down);
    EXPECT_EQ(list().FindNextRow(ItemFocused), 3);
}

} // namespace
