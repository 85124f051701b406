#pragma once
// Tells assistive technology that a control's name or value changed.
//
//   platform::SendAccessibleEvent(lamp, QAccessible::NameChanged);
//   platform::SendAccessibleValueChanged(lamp, position);
//
// Qt forwards the events only while a screen reader is attached; SetAccessibleEventObserver
// lets the headless tests see every event sent, attached or not.

#include <QAccessible>
#include <QVariant>
#include <functional>

class QObject;

namespace platform {

void SendAccessibleEvent(QObject* object, QAccessible::Event type);
void SendAccessibleValueChanged(QObject* object, const QVariant& value);

using AccessibleEventObserver =
    std::function<void(QObject* object, QAccessible::Event type, const QVariant& value)>;
// While set, sees every event sent above (value: the new value of a value change). Empty: none.
void SetAccessibleEventObserver(AccessibleEventObserver observer);

} // namespace platform
