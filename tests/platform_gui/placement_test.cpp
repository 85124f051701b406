#include "gui_test_support.h"
#include "platform/gui/window_placement.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override { window.setWindowTitle("placement"); }
    bool application_ = (EnsureApplication(), true); // before any widget
    QWidget window;
};

} // namespace

TEST_F(PlacementTest, NormalWindowGivesItsRectangleRightAndBottomExclusive) {
    window.setGeometry(100, 120, 624, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    WindowPlacement wp;
    ASSERT_TRUE(GetWindowPlacement(window, wp));
    EXPECT_EQ(wp.length, 44);
    EXPECT_EQ(wp.flags, 0);
    EXPECT_EQ(wp.showCmd, SwShowNormal);
    EXPECT_EQ(wp.minX, -1);
    EXPECT_EQ(wp.maxY, -1);
    EXPECT_EQ(wp.left, window.geometry().x());
    EXPECT_EQ(wp.top, window.geometry().y());
    EXPECT_EQ(wp.right - wp.left, 624);
    EXPECT_EQ(wp.bottom - wp.top, 600);
}

TEST_F(PlacementTest, SetAppliesRectangleAndShowCommand) {
    WindowPlacement wp;
    wp.length = 44;
    wp.showCmd = SwShowNormal;
    wp.left = 100;
    wp.top = 100;
    wp.right = 724;
    wp.bottom = 720;
    ASSERT_TRUE(SetWindowPlacement(window, wp));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(624, 620));
    EXPECT_EQ(window.geometry().topLeft(), QPoint(100, 100));

    wp.showCmd = SwShowMaximized;
    ASSERT_TRUE(SetWindowPlacement(window, wp));
    QTRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), 5000);
    WindowPlacement back;
    ASSERT_TRUE(GetWindowPlacement(window, back));
    EXPECT_EQ(back.showCmd, SwShowMaximized);
    // The normal rectangle is what the window returns to.
    EXPECT_EQ(back.NormalRect().size(), QSize(624, 620));
}

TEST_F(PlacementTest, InvalidPlacementsAreRefused) {
    window.setGeometry(10, 10, 300, 200);
    WindowPlacement wp;
    wp.length = 0; // nothing was loaded
    wp.SetNormalRect(QRect(50, 50, 400, 300));
    EXPECT_FALSE(SetWindowPlacement(window, wp));
    wp.length = 44;
    wp.SetNormalRect(QRect(50, 50, 0, 300));
    EXPECT_FALSE(SetWindowPlacement(window, wp));
    EXPECT_EQ(window.geometry(), QRect(10, 10, 300, 200));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(PlacementTest, TopMostTogglesWithoutMovingOrHiding) {
    window.setGeometry(40, 50, 320, 240);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect before = window.geometry();
    EXPECT_FALSE(IsTopMost(window));
    SetTopMost(window, true);
    EXPECT_TRUE(IsTopMost(window));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.geometry(), before);
    SetTopMost(window, true); // again: nothing changes
    EXPECT_TRUE(IsTopMost(window));
    SetTopMost(window, false);
    EXPECT_FALSE(IsTopMost(window));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.geometry(), before);

    QWidget hidden;
    SetTopMost(hidden, true);
    EXPECT_TRUE(IsTopMost(hidden));
    EXPECT_FALSE(hidden.isVisible()); // a hidden window stays hidden
}

TEST_F(PlacementTest, ShowCommandsHideAndShow) {
    ShowWindow(window, SwShow);
    EXPECT_TRUE(window.isVisible());
    ShowWindow(window, SwHide);
    EXPECT_FALSE(window.isVisible());
    WindowPlacement wp;
    ASSERT_TRUE(GetWindowPlacement(window, wp));
    EXPECT_EQ(wp.showCmd, SwHide);
}
