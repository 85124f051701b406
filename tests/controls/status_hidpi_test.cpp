// The status lamp on a desktop scaled by two: a process of its own, as the scale is fixed when
// the application starts.
#include "controls/status_ctrl.h"
#include "controls_test_support.h"

#include <QApplication>
#include <gtest/gtest.h>

TEST(StatusLampScaled, DrawsInTheScreensOwnPixels) {
    qputenv("QT_SCALE_FACTOR", "2");
    EnsureApplication();
    CStatusCtrl lamp;
    lamp.resize(200, 20);
    lamp.OnAttach();
    lamp.SetText("Programming");
    ASSERT_EQ(lamp.devicePixelRatioF(), 2.0);

    const QImage shown = lamp.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(400, 40));
    EXPECT_EQ(lamp.offscreen.size(), QSize(400, 40));
    EXPECT_EQ(lamp.offscreen.devicePixelRatio(), 2.0);

    // The disc's rim steps by single device pixels: in a picture doubled from logical pixels
    // rows 2k and 2k+1 are always alike; drawn at the screen's ratio some pair differs.
    const platform::ColorRef green = lamp.lampColor;
    bool finerRim = false;
    for (int y = 0; y < 40; y += 2) {
        finerRim = finerRim || CountOf(shown, green, QRect(360, y, 40, 1)) !=
                                   CountOf(shown, green, QRect(360, y + 1, 40, 1));
    }
    EXPECT_GT(CountOf(shown, green, QRect(360, 0, 40, 40)), 400); // the disc is there
    EXPECT_TRUE(finerRim);
}
