#include "controls_test_support.h"

#include "platform/gui/accessible_events.h"

#include <QApplication>
#include <QWidget>

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "controls_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        new QApplication(argc, argv); // lives for the whole test process
    }
}

QImage Render(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

platform::ColorRef PixelAt(const QImage& image, int x, int y) {
    return platform::FromQColor(QColor(image.pixel(x, y)));
}

QRect BoundsOf(const QImage& image, platform::ColorRef color, const QRect& area) {
    QRect bounds;
    const QRect within = area & image.rect();
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            if (PixelAt(image, x, y) == color) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

int CountOf(const QImage& image, platform::ColorRef color, const QRect& area) {
    int count = 0;
    const QRect within = area & image.rect();
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            count += PixelAt(image, x, y) == color ? 1 : 0;
        }
    }
    return count;
}

EventCounter::EventCounter(QWidget& widget, QEvent::Type type) : QObject(&widget), type_(type) {
    widget.installEventFilter(this);
}

bool EventCounter::eventFilter(QObject*, QEvent* event) {
    if (event->type() == type_) {
        ++count;
    }
    return false;
}

AccessibleEventLog::AccessibleEventLog() {
    platform::SetAccessibleEventObserver(
        [this](QObject* object, QAccessible::Event type, const QVariant& value) {
            events_.push_back({object, type, value});
        });
}

AccessibleEventLog::~AccessibleEventLog() {
    platform::SetAccessibleEventObserver({});
}

int AccessibleEventLog::Count(const QObject* object, QAccessible::Event type) const {
    int count = 0;
    for (const Seen& seen : events_) {
        count += seen.object == object && seen.type == type ? 1 : 0;
    }
    return count;
}

std::vector<QVariant> AccessibleEventLog::Values(const QObject* object) const {
    std::vector<QVariant> values;
    for (const Seen& seen : events_) {
        if (seen.object == object && seen.type == QAccessible::ValueChanged) {
            values.push_back(seen.value);
        }
    }
    return values;
}
