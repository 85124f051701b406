#include "gui_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/form_view.h"
#include "platform/gui/window_timers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const DialogTemplate kViewForm{
    103, {160, 60}, {}, {EditText(1004, 5, 5, 100, 12), PushButton("Start", 1002, 5, 25, 50, 14)}};

class KeyView : public FormView {
public:
    KeyView() : FormView(kViewForm) {}
    std::vector<unsigned> ticks;
    std::vector<int> consumed;
    bool killOnFirstTick = false;

protected:
    void OnTimer(unsigned id) override {
        ticks.push_back(id);
        if (killOnFirstTick) {
            KillTimer(id);
        }
    }
    bool PreTranslateMessage(QKeyEvent& key) override {
        if (key.key() == Qt::Key_Space || key.key() == Qt::Key_F11) {
            consumed.push_back(key.key());
            return true;
        }
        return false;
    }
};

int Count(const std::vector<unsigned>& ticks, unsigned id) {
    return static_cast<int>(std::count(ticks.begin(), ticks.end(), id));
}

} // namespace

TEST(WindowTimers, TicksCarryTheirIdentifierUntilKilled) {
    EnsureApplication();
    KeyView view;
    EXPECT_EQ(view.SetTimer(25, 20), 25u);
    EXPECT_EQ(view.SetTimer(6, 30), 6u);
    EXPECT_EQ(view.SetTimer(0, 30), 0u); // identifier 0 cannot be started
    QTRY_VERIFY_WITH_TIMEOUT(Count(view.ticks, 25) >= 2 && Count(view.ticks, 6) >= 2, 10000);
    for (unsigned id : view.ticks) {
        EXPECT_TRUE(id == 25 || id == 6);
    }

    EXPECT_TRUE(view.KillTimer(25));
    EXPECT_FALSE(view.KillTimer(25));
    EXPECT_FALSE(view.KillTimer(99));
    const int before = Count(view.ticks, 25);
    const int sixBefore = Count(view.ticks, 6);
    QTRY_VERIFY_WITH_TIMEOUT(Count(view.ticks, 6) >= sixBefore + 3, 10000);
    EXPECT_EQ(Count(view.ticks, 25), before); // no tick after the kill
}

TEST(WindowTimers, HandlerMayKillItsOwnTimer) {
    EnsureApplication();
    KeyView view;
    view.killOnFirstTick = true;
    ASSERT_EQ(view.SetTimer(7, 10), 7u);
    ASSERT_EQ(view.SetTimer(8, 25), 8u);
    QTRY_VERIFY_WITH_TIMEOUT(Count(view.ticks, 7) == 1 && Count(view.ticks, 8) == 1, 10000);
    QTest::qWait(100);
    EXPECT_EQ(view.ticks.size(), 2u);
}

TEST(WindowTimers, SettingAgainRestartsOneTimer) {
    EnsureApplication();
    std::vector<unsigned> ticks;
    WindowTimers timers([&ticks](unsigned id) { ticks.push_back(id); });
    ASSERT_EQ(timers.Set(3, 10000), 3u);
    ASSERT_EQ(timers.Set(3, 10), 3u); // the new period replaces the old one
    EXPECT_TRUE(timers.IsRunning(3));
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 10000);
    EXPECT_TRUE(timers.Kill(3));
    EXPECT_FALSE(timers.IsRunning(3));
}

TEST(PreTranslate, SpaceAndF11AreTakenBeforeTheFocusedControl) {
    EnsureApplication();
    QMainWindow frame;
    auto* view = new KeyView;
    frame.setCentralWidget(view);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

    auto* edit = view->Item<QLineEdit>(1004);
    auto* start = view->Item<QPushButton>(1002);
    int clicks = 0;
    QObject::connect(start, &QPushButton::clicked, [&clicks] { ++clicks; });

    // Keys arrive where the focus is.
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    edit->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), edit);
    QTest::keyClicks(edit, "a b");
    QTest::keyClick(edit, Qt::Key_F11);
    EXPECT_EQ(edit->text(), "ab");
    EXPECT_EQ(view->consumed, (std::vector<int>{Qt::Key_Space, Qt::Key_F11}));

    start->setFocus();
    QApplication::processEvents();
    QTest::keyClick(start, Qt::Key_Space);
    EXPECT_EQ(clicks, 0); // the button never saw its activation key
    EXPECT_EQ(view->consumed.size(), 3u);
}

TEST(PreTranslate, KeysOfOtherWindowsAreNotOffered) {
    EnsureApplication();
    KeyView view;
    view.show();
    QLineEdit other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.setFocus();
    QApplication::processEvents();
    QTest::keyClicks(&other, " x ");
    EXPECT_EQ(other.text(), " x ");
    EXPECT_TRUE(view.consumed.empty());
}
