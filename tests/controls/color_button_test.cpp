#include "controls/color_button.h"
#include "controls_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <tuple>

using platform::ColorRef;
using platform::Rgb;

namespace {

constexpr ColorRef kText = Rgb(0, 0, 0);
constexpr ColorRef kFace = Rgb(0, 255, 0);
constexpr ColorRef kDisabledFace = Rgb(200, 200, 200);
constexpr ColorRef kHighlight = Rgb(250, 250, 0);
constexpr ColorRef kLight = Rgb(0, 250, 250);
constexpr ColorRef kShadow = Rgb(0, 0, 160);
constexpr ColorRef kDarkShadow = Rgb(90, 0, 90);
constexpr int kWidth = 100;
constexpr int kHeight = 30;

class ColorButton : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        button = std::make_unique<CColorButton>();
        button->setText("Start");
        button->resize(kWidth, kHeight);
        QFont font = button->font();
        font.setStyleStrategy(QFont::NoAntialias); // pure text colours
        font.setPixelSize(12);
        button->setFont(font);
        button->SetColors(kText, kFace);
        button->disabledFaceColor = kDisabledFace;
        button->highlightColor = kHighlight;
        button->lightColor = kLight;
        button->shadowColor = kShadow;
        button->darkShadowColor = kDarkShadow;
    }

    QImage Draw(const CColorButton::ItemState& state) {
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        button->DrawItem(painter, image.rect(), state);
        return image;
    }

    // Where the text is: within the frame and the focus rectangle.
    static QRect Inner() { return QRect(5, 5, kWidth - 10, kHeight - 10); }

    std::unique_ptr<CColorButton> button;
};

} // namespace

TEST_F(ColorButton, RaisedFrameAroundTheFace) {
    const QImage image = Draw({});
    EXPECT_EQ(PixelAt(image, 5, 0), kHighlight);            // top
    EXPECT_EQ(PixelAt(image, 0, 5), kHighlight);            // left
    EXPECT_EQ(PixelAt(image, 5, kHeight - 1), kDarkShadow); // bottom
    EXPECT_EQ(PixelAt(image, kWidth - 1, 5), kDarkShadow);  // right
    EXPECT_EQ(PixelAt(image, 5, 1), kLight);
    EXPECT_EQ(PixelAt(image, 1, 5), kLight);
    EXPECT_EQ(PixelAt(image, 5, kHeight - 2), kShadow);
    EXPECT_EQ(PixelAt(image, kWidth - 2, 5), kShadow);
    EXPECT_EQ(PixelAt(image, 2, 2), kFace);
    EXPECT_GT(CountOf(image, kText, Inner()), 0);
}

TEST_F(ColorButton, PressedHasTheDarkRingsAndTextTwoPixelsRightNotDown) {
    const QImage normal = Draw({});
    CColorButton::ItemState pressed;
    pressed.pressed = true;
    const QImage down = Draw(pressed);
    EXPECT_EQ(PixelAt(down, 0, 0), kDarkShadow);
    EXPECT_EQ(PixelAt(down, kWidth - 1, kHeight - 1), kDarkShadow);
    EXPECT_EQ(PixelAt(down, 1, 1), kShadow);
    EXPECT_EQ(PixelAt(down, kWidth - 2, 5), kShadow);

    const QRect up = BoundsOf(normal, kText, Inner());
    const QRect pushed = BoundsOf(down, kText, Inner());
    ASSERT_FALSE(up.isEmpty());
    EXPECT_EQ(pushed, up.translated(2, 0));
}

TEST_F(ColorButton, FocusAddsABlackRingAndADottedRectangleFourPixelsIn) {
    const QImage plain = Draw({});
    CColorButton::ItemState focused;
    focused.focused = true;
    const QImage image = Draw(focused);
    EXPECT_EQ(PixelAt(image, 5, 0), Rgb(0, 0, 0));
    EXPECT_EQ(PixelAt(image, kWidth - 1, 5), Rgb(0, 0, 0));
    EXPECT_EQ(PixelAt(image, 5, 1), kHighlight);
    EXPECT_EQ(PixelAt(image, 5, 2), kLight);

    auto differing = [&](const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                count += plain.pixel(x, y) != image.pixel(x, y) ? 1 : 0;
            }
        }
        return count;
    };
    // Dots along all four sides of the rectangle 4 pixels in, every other pixel.
    const int top = differing(QRect(4, 4, kWidth - 8, 1));
    EXPECT_GE(top, (kWidth - 8) / 2 - 1);
    EXPECT_LT(top, kWidth - 8);
    EXPECT_GE(differing(QRect(4, kHeight - 5, kWidth - 8, 1)), (kWidth - 8) / 2 - 1);
    EXPECT_GE(differing(QRect(4, 5, 1, kHeight - 10)), (kHeight - 10) / 2 - 1);
    EXPECT_GE(differing(QRect(kWidth - 5, 5, 1, kHeight - 10)), (kHeight - 10) / 2 - 1);
    // Nothing else changes between the frame and the dots.
    EXPECT_EQ(differing(QRect(3, 3, kWidth - 6, 1)), 0);
    EXPECT_EQ(differing(QRect(5, 5, kWidth - 10, kHeight - 10)), 0);

    CColorButton::ItemState isDefault;
    isDefault.isDefault = true;
    const QImage defaulted = Draw(isDefault);
    EXPECT_EQ(PixelAt(defaulted, 5, 0), Rgb(0, 0, 0)); // the ring, but no dots
    EXPECT_EQ(defaulted.pixel(6, 4), plain.pixel(6, 4));
}

TEST_F(ColorButton, DisabledTextIsEmbossedOnTheDisabledFace) {
    CColorButton::ItemState disabled;
    disabled.disabled = true;
    auto emboss = [&] {
        const QImage image = Draw(disabled);
        EXPECT_EQ(PixelAt(image, 3, 3), kDisabledFace);
        EXPECT_EQ(CountOf(image, kText, Inner()), 0);
        return std::make_pair(BoundsOf(image, Rgb(128, 128, 128), Inner()),
                              BoundsOf(image, Rgb(255, 255, 255), Inner()));
    };
    // Top-aligned text: white one pixel down-right of its place, grey one pixel up-left.
    platform::SetStyle(button.get(), platform::BsCenter | platform::BsTop);
    auto [grey, white] = emboss();
    ASSERT_FALSE(grey.isEmpty());
    ASSERT_FALSE(white.isEmpty());
    EXPECT_EQ(white.bottomRight(), grey.bottomRight() + QPoint(2, 2));
    EXPECT_EQ(grey, BoundsOf(Draw({}), kText, Inner())); // normal text sits up-left as well

    // Vertically centred text is placed from the button's top: the emboss is sideways only.
    platform::SetStyle(button.get(), platform::BsCenter | platform::BsVCenter);
    std::tie(grey, white) = emboss();
    ASSERT_FALSE(white.isEmpty());
    EXPECT_EQ(white.bottomRight(), grey.bottomRight() + QPoint(2, 0));
}

TEST_F(ColorButton, WidgetStateChoosesTheDrawing) {
    QImage image = Render(*button);
    EXPECT_EQ(PixelAt(image, 2, 2), kFace);
    button->setDown(true);
    image = Render(*button);
    EXPECT_EQ(PixelAt(image, 0, 0), kDarkShadow);
    button->setDown(false);
    button->setEnabled(false);
    image = Render(*button);
    EXPECT_EQ(PixelAt(image, 3, 3), kDisabledFace);
}

TEST_F(ColorButton, VerticalAlignmentBits) {
    auto textTop = [&](std::uint32_t style) {
        platform::SetStyle(button.get(), style);
        return BoundsOf(Draw({}), kText, QRect(3, 2, kWidth - 6, kHeight - 4)).top();
    };
    const int centred = textTop(platform::BsCenter | platform::BsVCenter);
    const int top = textTop(platform::BsCenter | platform::BsTop);
    const int bottom = textTop(platform::BsCenter | platform::BsBottom);
    EXPECT_LT(top, centred);
    EXPECT_LT(centred, bottom);
    EXPECT_EQ(textTop(platform::BsCenter), centred);

    platform::SetStyle(button.get(), platform::BsCenter | platform::BsMultiLine);
    button->setText("A\nB");
    const QRect two = BoundsOf(Draw({}), kText, QRect(3, 2, kWidth - 6, kHeight - 4));
    platform::SetStyle(button.get(), platform::BsCenter);
    const QRect one = BoundsOf(Draw({}), kText, QRect(3, 2, kWidth - 6, kHeight - 4));
    EXPECT_GT(two.height(), one.height() + 4); // two lines one under the other
}

TEST(ColorButtonColors, SetColorsBeforeTheWindowExistsStores) {
    EnsureApplication();
    CColorButton button;
    button.SetColors(Rgb(1, 2, 3), Rgb(0, 255, 255));
    EXPECT_EQ(button.textColor, Rgb(1, 2, 3));
    EXPECT_EQ(button.faceColor, 0xFFFF00u); // 0x00BBGGRR: blue and green
    EXPECT_EQ(button.disabledFaceColor, platform::GetSysColor(platform::SysColor::ButtonFace));
}
