#pragma once
// Finds the other processes that have terminal devices open, without opening the devices.
//
// Descriptors are found through the links in /proc/<pid>/fd, read with readlink only: a stat of
// a descriptor's target may wait on a hung network mount. Only the processes whose descriptors
// may be read are seen: those of this user, or every process when run as root. flock holders are
// found in /proc/locks, whoever they are.
//
// A process that has the master of a pseudo-terminal open as well as its slave made the pair to
// offer the slave to others (socat and the like): it does not count as a holder of that slave.
// This process never counts, except through flock, which another of its own opens may hold.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace serial {

using Deadline = std::chrono::steady_clock::time_point;

// For each device path (links followed), a process that holds it open, 0 when none was found.
// Processes not looked at by the deadline count as holding nothing.
std::vector<pid_t> FindHolders(const std::vector<std::string>& devicePaths, Deadline deadline);

// Whether a process holds a flock on the device node; holder is its PID, 0 when not known.
bool FindFlockHolder(const std::string& devicePath, pid_t& holder);

// The command name of a process ("picocom"), empty when it cannot be read.
std::string ProcessName(pid_t pid);

} // namespace serial
