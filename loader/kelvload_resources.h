#pragma once
// The loader's resources: its string table and the dialog templates of the main form, the
// discovery window and the about box.

#include "platform/gui/dialog_template.h"

#include <QIcon>

namespace kelvload {

// Adds the loader's texts to the string table; calling it again changes nothing.
void AddKelvloadStrings();

// The application title, the name of its settings.
inline constexpr const char* AppTitle = "kelvload";
// Start of the main window's title; the version text follows directly.
inline constexpr const char* FrameTitlePrefix = "Kestrom -- kelvload   ";
// Start of the about box's text line; the version text follows directly.
inline constexpr const char* AboutTextPrefix = "kelvload FF";

// The program icon, in the sizes the program carries.
QIcon ProgramIcon();

const platform::DialogTemplate& MainFormTemplate();
const platform::DialogTemplate& DiscoverTemplate();
const platform::DialogTemplate& AboutTemplate();

} // namespace kelvload
