#include "controls/clock.h"
#include "controls_test_support.h"
#include "platform/gui/window_class.h"

#include <QApplication>
#include <QTest>
#include <ctime>
#include <gtest/gtest.h>

using platform::Rgb;

namespace {

constexpr std::int64_t kSunday6Dec2026At180509 = 1796580309; // UTC
constexpr std::int64_t kWednesday9Dec2026At090507 = 1796807107;

// The clock formats local time: make it UTC for the process.
void UseUtc() {
    qputenv("TZ", "UTC");
    tzset();
}

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseUtc();
        EnsureApplication();
        clock = std::make_unique<CClock>();
        clock->SetTimeSource([this] { return now; });
    }

    // A clock of the size, attached, ticked once at `now`, in distinct colours.
    QImage Shown(int width, int height) {
        clock->resize(width, height);
        clock->OnAttach();
        clock->lastShown = 0; // format again, even within the same second
        clock->backColor = Rgb(255, 0, 0);
        clock->textColor = Rgb(0, 0, 255);
        clock->OnTimer(CClock::TimerId);
        return Render(*clock);
    }

    std::int64_t now = kSunday6Dec2026At180509;
    std::unique_ptr<CClock> clock;
};

} // namespace

TEST(ClockText, CLocaleNamesWithoutLeadingZeros) {
    UseUtc();
    EXPECT_EQ(FormatClockText(kSunday6Dec2026At180509), " Sun 6 Dec 2026  6:05:09 PM ");
    EXPECT_EQ(FormatClockText(kWednesday9Dec2026At090507), " Wed 9 Dec 2026  9:05:07 AM ");
    EXPECT_EQ(FormatClockText(1767225600), " Thu 1 Jan 2026  12:00:00 AM "); // midnight is 12
    EXPECT_EQ(FormatClockText(1783168200), " Sat 4 Jul 2026  12:30:00 PM "); // noon likewise
}

TEST(ClockText, TimeBeyondTheCalendarGivesAnEmptyText) {
    UseUtc();
    EXPECT_EQ(FormatClockText(std::numeric_limits<std::int64_t>::max()), "");
}

TEST_F(ClockTest, RegistersItsWindowClassOnce) {
    EXPECT_TRUE(platform::IsWindowClassRegistered(CClock::WindowClass));
    EXPECT_EQ(clock->objectName(), "MFCClockCtrl");
    CClock second; // finds the class there
    EXPECT_FALSE(platform::RegisterWindowClass(CClock::WindowClass));
}

TEST_F(ClockTest, AttachStartsTimerSixWithSystemColoursAndNoText) {
    clock->text = "stale";
    clock->OnAttach();
    EXPECT_EQ(clock->timerId, 6u);
    EXPECT_EQ(clock->text, "");
    EXPECT_EQ(clock->backColor, platform::GetSysColor(platform::SysColor::ButtonFace));
    EXPECT_EQ(clock->textColor, platform::GetSysColor(platform::SysColor::ButtonText));
    EXPECT_EQ(clock->lastShown, 0);
    // The running timer fills in the text by itself.
    QTRY_COMPARE_WITH_TIMEOUT(clock->text, QString(" Sun 6 Dec 2026  6:05:09 PM "), 10000);
    EXPECT_EQ(clock->lastShown, now);
}

TEST_F(ClockTest, TextCellIsNinetyPercentOfTheHeightAndCentred) {
    QImage image = Shown(240, 20);
    ASSERT_EQ(clock->text, " Sun 6 Dec 2026  6:05:09 PM ");
    QRect cell = BoundsOf(image, Rgb(255, 0, 0), image.rect());
    ASSERT_FALSE(cell.isEmpty());
    EXPECT_EQ(cell.top(), 0);
    EXPECT_EQ(cell.height(), 18); // 20 * 90 / 100
    EXPECT_NEAR(cell.left(), 240 - 1 - cell.right(), 1);
    EXPECT_GT(CountOf(image, Rgb(0, 0, 255), cell), 0); // the text is in the cell
    // Below and beside the cell: the button face, painted with every repaint.
    const platform::ColorRef face = platform::GetSysColor(platform::SysColor::ButtonFace);
    EXPECT_EQ(CountOf(image, face, QRect(0, 18, 240, 2)), 240 * 2);
    EXPECT_EQ(CountOf(image, face, QRect(0, 0, cell.left(), 18)), cell.left() * 18);
    EXPECT_LE(clock->font.pixelSize(), 18);

    image = Shown(240, 11);
    cell = BoundsOf(image, Rgb(255, 0, 0), image.rect());
    EXPECT_EQ(cell.top(), 0);
    EXPECT_EQ(cell.height(), 9); // 11 * 90 / 100
}

TEST_F(ClockTest, TwoTicksInOneSecondRepaintOnce) {
    clock->resize(240, 20);
    clock->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(clock.get()));
    clock->OnAttach();
    QApplication::processEvents();
    EventCounter paints(*clock, QEvent::Paint);

    clock->OnTimer(6);
    QTRY_COMPARE_WITH_TIMEOUT(paints.count, 1, 5000);
    const QString shown = clock->text;
    clock->OnTimer(6); // the same second
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 1);
    EXPECT_EQ(clock->text, shown);

    now += 1;
    clock->OnTimer(42); // any timer message counts
    EXPECT_EQ(clock->text, " Sun 6 Dec 2026  6:05:10 PM ");
    QTRY_COMPARE_WITH_TIMEOUT(paints.count, 2, 5000);
}

TEST_F(ClockTest, WithoutTimerTheTextChangesButNothingRepaints) {
    clock->resize(240, 20);
    clock->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(clock.get()));
    QApplication::processEvents();
    ASSERT_EQ(clock->timerId, 0u); // never attached
    EventCounter paints(*clock, QEvent::Paint);
    clock->OnTimer(6);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(clock->text, " Sun 6 Dec 2026  6:05:09 PM ");
    EXPECT_EQ(paints.count, 0);
}

TEST_F(ClockTest, ReadsAsTheTextItShowsAndAnnouncesEachNewSecond) {
    AccessibleEventLog events;
    clock->resize(240, 20);
    clock->OnAttach();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(clock.get());
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::StaticText);
    EXPECT_EQ(face->childCount(), 0);
    EXPECT_EQ(face->text(QAccessible::Name), "");

    clock->OnTimer(CClock::TimerId);
    EXPECT_EQ(face->text(QAccessible::Name), " Sun 6 Dec 2026  6:05:09 PM ");
    clock->OnTimer(CClock::TimerId); // the same second: nothing new to say
    EXPECT_EQ(events.Count(clock.get(), QAccessible::NameChanged), 1);

    now += 1;
    clock->OnTimer(CClock::TimerId);
    EXPECT_EQ(face->text(QAccessible::Name), " Sun 6 Dec 2026  6:05:10 PM ");
    EXPECT_EQ(events.Count(clock.get(), QAccessible::NameChanged), 2);
}
