#pragma once
// Window class names and style bits of controls.
//
// Forms record for every control the class name and style bits its dialog template gives
// ("Button", "Static", "Edit", "ComboBox", "ListBox", "SysListView32" or a registered custom
// class such as "MFCClockCtrl"), so that code which decides by class and style - the resizable
// layout, the colour button's text alignment - can ask for them:
//
//   if (platform::GetClassName(w) == "Static" && (platform::GetStyle(w) & 0x1F) == 0) ...
//
// Custom control classes are registered once per process by their first constructor:
//
//   platform::RegisterWindowClass("MFCClockCtrl"); // true the first time, false afterwards

#include <QString>
#include <cstdint>

class QWidget;

namespace platform {

// Records the class name for the process. Returns true when it was new, false when a class of
// that name was already registered (the registration stays as it was).
bool RegisterWindowClass(const QString& className);
bool IsWindowClassRegistered(const QString& className);

// The control's class name: the one recorded on it, else one derived from its Qt type
// ("Button", "Static", "Edit", "ComboBox", "ListBox"), else its Qt class name.
QString GetClassName(const QWidget* control);
void SetClassName(QWidget* control, const QString& className);

// The control's style bits as recorded on it (0 when none were).
std::uint32_t GetStyle(const QWidget* control);
void SetStyle(QWidget* control, std::uint32_t style);

// The control identifier recorded on it, 0 when none.
int GetControlId(const QWidget* control);
void SetControlId(QWidget* control, int id);

} // namespace platform
