#pragma once

#include "platform/gui/colors.h"

#include <QAccessible>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRect>
#include <functional>
#include <vector>

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

// Records the accessibility events the controls send while it lives.
class AccessibleEventLog {
public:
    AccessibleEventLog();
    ~AccessibleEventLog();
    // How many events of the type were sent for the object.
    int Count(const QObject* object, QAccessible::Event type) const;
    // The values of the value-changed events sent for the object, in order.
    std::vector<QVariant> Values(const QObject* object) const;
    void Clear() { events_.clear(); }

private:
    struct Seen {
        const QObject* object;
        QAccessible::Event type;
        QVariant value;
    };
    std::vector<Seen> events_;
};
