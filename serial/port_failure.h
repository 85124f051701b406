#pragma once
// Why a port cannot be had, and what the programs tell the user about it.

#include <string>
#include <sys/types.h>

namespace serial {

// What stood in the way of a port, as far as the checks found out.
struct PortRefusal {
    enum class Lock {
        None,
        Live,       // the lock file of a live process
        Stale,      // the lock file of a process that has ended, which could not be removed
        Unreadable, // a lock file that names no process (empty or garbage)
    };
    int error = 0;    // the errno behind it (EACCES, EBUSY, ENOENT...); 0 when none
    pid_t holder = 0; // the process that holds the port or its lock file; 0 when unknown
    Lock lock = Lock::None;
    std::string lockFile; // the lock file in the way, with any Lock but None
};

// "no permission: join the dialout group" for EACCES and EPERM, "in use by another program"
// for EBUSY and EWOULDBLOCK; for a port on the network "the server refused the connection"
// (ECONNREFUSED) and "the server cannot be reached" (ENETUNREACH, EHOSTUNREACH); nullptr for
// any other reason.
const char* PortFailureText(int reason);

// True when another program holds the port (EBUSY, or EWOULDBLOCK from its lock): a reason
// that may pass by itself, unlike a missing port or a lacking permission.
bool PortIsBusy(int reason);

// The refusal as the user reads it: PortFailureText with the holder named ("in use by another
// program (picocom, process 1234)"), or what is wrong with the lock file ("stale lock file
// /run/lock/LCK..ttyUSB0 of process 99999 could not be removed"). Empty when nothing is known.
std::string RefusalText(const PortRefusal& refusal);

} // namespace serial
