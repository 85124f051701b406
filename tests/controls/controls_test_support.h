#pragma once

#include "platform/gui/colors.h"

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRect>
#include <functional>

class QWidget;

// Makes the one QApplication of the test process (offscreen when run by CTest).
void EnsureApplication();

// The widget as it paints itself.
QImage Render(QWidget& widget);

// The smallest rectangle holding every pixel of `image` within `area` that has the colour.
QRect BoundsOf(const QImage& image, platform::ColorRef color, const QRect& area);
int CountOf(const QImage& image, platform::ColorRef color, const QRect& area);
platform::ColorRef PixelAt(const QImage& image, int x, int y);

// Counts the events of one type that a widget receives.
class EventCounter : public QObject {
public:
    EventCounter(QWidget& widget, QEvent::Type type);
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QEvent::Type type_;
};
