#include "controls/status_ctrl.h"
#include "controls_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QAccessibleValueInterface>
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

using platform::ColorRef;
using platform::Rgb;

namespace {

class StatusLamp : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        lamp = std::make_unique<CStatusCtrl>();
        lamp->resize(200, 20);
        lamp->OnAttach();
        QFont font = lamp->font();
        font.setStyleStrategy(QFont::NoAntialias); // pure text colours
        lamp->setFont(font);
    }
    ColorRef Bar() const { return lamp->barColor; }
    ColorRef Back() const { return lamp->backColor; }

    std::unique_ptr<CStatusCtrl> lamp;
};

} // namespace

TEST_F(StatusLamp, AttachSetsTheDefaults) {
    EXPECT_EQ(lamp->rangeLow, 0u);
    EXPECT_EQ(lamp->rangeHigh, 100u);
    EXPECT_EQ(lamp->position, 0u);
    EXPECT_EQ(lamp->text, "");
    EXPECT_EQ(lamp->lampColor, 0x00FF00u);
    EXPECT_EQ(lamp->barColor, 0xFFFF00u);
    EXPECT_EQ(lamp->backColor, platform::GetSysColor(platform::SysColor::ButtonFace));
    EXPECT_EQ(lamp->textColor, platform::GetSysColor(platform::SysColor::ButtonText));
    EXPECT_EQ(lamp->objectName(), "MFCStatusCtrl");
    EXPECT_TRUE(platform::IsWindowClassRegistered(CStatusCtrl::WindowClass));
}

TEST_F(StatusLamp, HalfWayFillsNinetyOfTheBarsHundredAndEightyPixels) {
    lamp->backColor = Rgb(250, 240, 230);
    EXPECT_EQ(lamp->SetPosition(50), 0u);
    const QImage image = Render(*lamp);
    const int y = 10;
    EXPECT_EQ(PixelAt(image, 2, y), Bar()); // inside the etched edge
    EXPECT_EQ(PixelAt(image, 89, y), Bar());
    EXPECT_EQ(PixelAt(image, 90, y), Back());
    EXPECT_EQ(PixelAt(image, 179, y), Back());
    EXPECT_EQ(CountOf(image, Bar(), QRect(0, y, 200, 1)), 88); // x 2..89
    // The bar does not reach into the lamp square, which starts at 180.
    EXPECT_EQ(CountOf(image, Back(), QRect(180, 0, 20, 20)), 0);
}

TEST_F(StatusLamp, LampDiscInTheLampColourInsideItsSquare) {
    lamp->SetLampColor(Rgb(255, 0, 255));
    const QImage image = Render(*lamp);
    EXPECT_EQ(PixelAt(image, 190, 10), Rgb(255, 0, 255));
    // The disc is the circle inscribed in the square shrunk by 3: its corners stay button face.
    const QRect disc = BoundsOf(image, Rgb(255, 0, 255), image.rect());
    EXPECT_TRUE(QRect(183, 3, 14, 14).contains(disc));
    EXPECT_GE(disc.width(), 13);
    EXPECT_GE(disc.height(), 13);
    EXPECT_EQ(PixelAt(image, 183, 3), platform::GetSysColor(platform::SysColor::ButtonFace));
}

TEST_F(StatusLamp, PositionIsClampedIntoTheRange) {
    lamp->SetPosition(30);
    EXPECT_EQ(lamp->SetPosition(150), 30u);
    EXPECT_EQ(lamp->position, 100u);
    QImage image = Render(*lamp);
    EXPECT_EQ(PixelAt(image, 179, 10), Bar()); // the whole bar is done
    EXPECT_EQ(PixelAt(image, 2, 10), Bar());

    lamp->SetRange(10, 20);
    EXPECT_EQ(lamp->position, 100u); // not clamped again by SetRange
    EXPECT_EQ(lamp->SetPosition(5), 100u);
    EXPECT_EQ(lamp->position, 10u);
    image = Render(*lamp);
    EXPECT_EQ(PixelAt(image, 2, 10), Back()); // empty at the low end
}

TEST_F(StatusLamp, EmptyRangeAndPositionBelowTheRangeShowAnEmptyBar) {
    lamp->backColor = Rgb(250, 240, 230);
    lamp->SetRange(5, 5);
    lamp->SetPosition(5);
    QImage image = Render(*lamp);
    EXPECT_EQ(CountOf(image, Bar(), image.rect()), 0);
    EXPECT_EQ(PixelAt(image, 90, 10), Back());

    lamp->SetRange(0, 100);
    lamp->SetPosition(50);
    lamp->SetRange(60, 100); // the position now lies below the range
    image = Render(*lamp);
    EXPECT_EQ(CountOf(image, Bar(), image.rect()), 0);
}

TEST_F(StatusLamp, LargeRangesDoNotWrap) {
    lamp->SetRange(0, 0xFFFFFFFFu);
    lamp->SetPosition(0x80000000u);
    const QImage image = Render(*lamp);
    EXPECT_EQ(PixelAt(image, 88, 10), Bar());
    EXPECT_EQ(PixelAt(image, 91, 10), Back());
}

TEST_F(StatusLamp, TextTakesTheDesktopColourWhereTheBarIsDone) {
    lamp->textColor = Rgb(255, 0, 0);
    lamp->SetPosition(50);
    lamp->SetText("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"); // wider than the bar
    const QImage image = Render(*lamp);
    const ColorRef desktop = platform::GetSysColor(platform::SysColor::Desktop);
    ASSERT_NE(desktop, Rgb(255, 0, 0));
    EXPECT_GT(CountOf(image, desktop, QRect(2, 2, 88, 16)), 0);
    EXPECT_EQ(CountOf(image, desktop, QRect(90, 2, 90, 16)), 0);
    EXPECT_GT(CountOf(image, Rgb(255, 0, 0), QRect(90, 2, 90, 16)), 0);
    EXPECT_EQ(CountOf(image, Rgb(255, 0, 0), QRect(2, 2, 88, 16)), 0);
    // Clipped at the bar's end: nothing of the text in the lamp square.
    EXPECT_EQ(CountOf(image, Rgb(255, 0, 0), QRect(180, 0, 20, 20)), 0);
}

TEST_F(StatusLamp, OnlySettersOtherThanRangeRepaint) {
    lamp->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(lamp.get()));
    QApplication::processEvents();
    EventCounter paints(*lamp, QEvent::Paint);
    lamp->SetRange(0, 1000);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(paints.count, 0);
    lamp->SetText("Programming");
    QTRY_COMPARE_WITH_TIMEOUT(paints.count, 1, 5000);
}

TEST(StatusLampCreate, NeedsAParent) {
    EnsureApplication();
    CStatusCtrl orphan;
    EXPECT_FALSE(orphan.Create(platform::WsVisible, QRect(0, 0, 100, 20), nullptr, 1001));
    QWidget parent;
    auto* lamp = new CStatusCtrl;
    ASSERT_TRUE(lamp->Create(platform::WsVisible, QRect(5, 6, 100, 20), &parent, 1001));
    EXPECT_EQ(lamp->parentWidget(), &parent);
    EXPECT_EQ(lamp->geometry(), QRect(5, 6, 100, 20));
    EXPECT_EQ(platform::GetControlId(lamp), 1001);
    EXPECT_EQ(platform::GetClassName(lamp), "MFCStatusCtrl");
    EXPECT_EQ(lamp->windowTitle(), "");
    EXPECT_EQ(lamp->rangeHigh, 100u);
}

TEST_F(StatusLamp, ReadsAsAProgressBarNamedByItsTextAndAnnouncesChanges) {
    QWidget form;
    lamp->setParent(&form);
    AccessibleEventLog events;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(lamp.get());
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::ProgressBar);
    EXPECT_EQ(face->childCount(), 0);
    QAccessibleValueInterface* value = face->valueInterface();
    ASSERT_NE(value, nullptr);

    lamp->SetRange(0, 4096);
    lamp->SetText("Programming");
    lamp->SetPosition(1024);
    EXPECT_EQ(face->text(QAccessible::Name), "Programming");
    EXPECT_EQ(value->minimumValue().toUInt(), 0u);
    EXPECT_EQ(value->maximumValue().toUInt(), 4096u);
    EXPECT_EQ(value->currentValue().toUInt(), 1024u);
    EXPECT_EQ(face->text(QAccessible::Value), "1024");
    EXPECT_EQ(events.Count(lamp.get(), QAccessible::NameChanged), 1);

    // A failure is announced once; repeating the same text and position says nothing new.
    events.Clear();
    lamp->SetText("Programming Failed");
    lamp->SetPosition(0);
    lamp->SetText("Programming Failed");
    lamp->SetPosition(0);
    EXPECT_EQ(face->text(QAccessible::Name), "Programming Failed");
    EXPECT_EQ(value->currentValue().toUInt(), 0u);
    EXPECT_EQ(events.Count(lamp.get(), QAccessible::NameChanged), 1);
    const std::vector<QVariant> values = events.Values(lamp.get());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].toUInt(), 0u);
    lamp->setParent(nullptr);
}
