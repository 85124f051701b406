#pragma once
// Ends the program as closing its main window does when it is asked to end by SIGTERM or SIGHUP
// (a logout, `systemctl stop`, `timeout`, a window manager's kill), so that the port is closed,
// given back as it was found and its lock file removed, and a download is stopped as its Stop
// button does.
//
// The handler only writes a byte to a pipe; the window's thread reads it, closes the modal
// dialogs and then the window. A second such signal ends the program at once (the default
// action), for a close that does not finish.

class QWidget;

namespace platform {

void CloseOnTerminationSignals(QWidget* mainWindow);

} // namespace platform
