#pragma once
// Opening a terminal device so that no other program shares it.

#include "serial/port_failure.h"

#include <string>

namespace serial {

// Opens a terminal device exclusively (O_NOCTTY, flock and TIOCEXCL). Before it takes either it
// refuses the device with EBUSY when another program has set TIOCEXCL on it, another process
// holds it open (port_holders.h) or a lock file stands in the way (port_lock.h), so that a
// refused open leaves the device as it found it. Never creates anything. Returns 0 and the
// descriptor, or an errno value with what is known of the refusal.
int OpenExclusive(const char* path, int& fd, PortRefusal& refusal);
// Releases a descriptor from OpenExclusive.
void CloseExclusive(int fd);

// The device behind a path, links followed, for the lock file's name.
std::string RealDevicePath(const char* path);

} // namespace serial
