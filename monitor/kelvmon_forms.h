#pragma once
// The dialog templates of the monitor: the main form, the port set-up dialog and the about box.

#include "platform/gui/dialog_template.h"

namespace kelvmon {

const platform::DialogTemplate& MainForm();      // form 101
const platform::DialogTemplate& PortSetupForm(); // dialog 130
const platform::DialogTemplate& AboutForm();     // dialog 100

} // namespace kelvmon
