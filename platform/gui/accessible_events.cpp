#include "platform/gui/accessible_events.h"

namespace platform {

namespace {

AccessibleEventObserver& Observer() {
    static AccessibleEventObserver observer;
    return observer;
}

} // namespace

void SendAccessibleEvent(QObject* object, QAccessible::Event type) {
    if (Observer()) {
        Observer()(object, type, QVariant());
    }
    QAccessibleEvent event(object, type);
    QAccessible::updateAccessibility(&event);
}

void SendAccessibleValueChanged(QObject* object, const QVariant& value) {
    if (Observer()) {
        Observer()(object, QAccessible::ValueChanged, value);
    }
    QAccessibleValueChangeEvent event(object, value);
    QAccessible::updateAccessibility(&event);
}

void SetAccessibleEventObserver(AccessibleEventObserver observer) {
    Observer() = std::move(observer);
}

} // namespace platform
