#pragma once
// Whether ports exist, may be opened and are free, found out without opening them: an open
// raises and drops DTR and RTS, which resets some boards, and the port lists look again at
// every change in /dev.
//
// A port exists when its name resolves to a character device (a UART that sysfs reports
// without hardware does not); it may be opened when access(2) allows reading and writing; it
// is free when no lock file (a stale one that an open could remove counts as none), no flock
// and no descriptor of another process holds it (port_holders.h). A port on the network is
// available while its entry exists. Not seen without an open:
// the exclusive flag set by another user's program, whose open then fails.

#include "serial/port_failure.h"
#include "serial/serial.h"

#include <chrono>
#include <string>
#include <vector>

namespace serial {

struct PortProbe {
    PortState state = PortNotPresent;
    PortRefusal refusal; // what stands in the way of PortInUse and PortError
};

// The ports (COM names or paths) with one look at /proc, which ends after `budget`: processes
// not looked at by then hold nothing.
std::vector<PortProbe>
ProbePorts(const std::vector<std::string>& names,
           std::chrono::milliseconds budget = std::chrono::milliseconds(500));

} // namespace serial
