#include "platform/gui/window_class.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMutex>
#include <QSet>
#include <QVariant>

namespace platform {
namespace {

constexpr const char* kClassProperty = "windowClass";
constexpr const char* kStyleProperty = "windowStyle";
constexpr const char* kIdProperty = "controlId";

struct ClassRegistry {
    QMutex mutex;
    QSet<QString> names;
};

ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}

} // namespace

bool RegisterWindowClass(const QString& className) {
    ClassRegistry& registry = Registry();
    QMutexLocker lock(&registry.mutex);
    if (registry.names.contains(className)) {
        return false;
    }
    registry.names.insert(className);
    return true;
}

bool IsWindowClassRegistered(const QString& className) {
    ClassRegistry& registry = Registry();
    QMutexLocker lock(&registry.mutex);
    return registry.names.contains(className);
}

QString GetClassName(const QWidget* control) {
    if (control == nullptr) {
        return {};
    }
    const QVariant recorded = control->property(kClassProperty);
    if (recorded.isValid()) {
        return recorded.toString();
    }
    if (qobject_cast<const QAbstractButton*>(control) != nullptr) {
        return QStringLiteral("Button");
    }
    if (qobject_cast<const QLabel*>(control) != nullptr) {
        return QStringLiteral("Static");
    }
    if (qobject_cast<const QLineEdit*>(control) != nullptr) {
        return QStringLiteral("Edit");
    }
    if (qobject_cast<const QComboBox*>(control) != nullptr) {
        return QStringLiteral("ComboBox");
    }
    if (qobject_cast<const QListWidget*>(control) != nullptr) {
        return QStringLiteral("ListBox");
    }
    return QString::fromLatin1(control->metaObject()->className());
}

void SetClassName(QWidget* control, const QString& className) {
    control->setProperty(kClassProperty, className);
}

std::uint32_t GetStyle(const QWidget* control) {
    return control == nullptr ? 0 : control->property(kStyleProperty).toUInt();
}

void SetStyle(QWidget* control, std::uint32_t style) {
    control->setProperty(kStyleProperty, style);
}

int GetControlId(const QWidget* control) {
    return control == nullptr ? 0 : control->property(kIdProperty).toInt();
}

void SetControlId(QWidget* control, int id) {
    control->setProperty(kIdProperty, id);
}

} // namespace platform
