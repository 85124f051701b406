#pragma once
// UUCP lock files in the lock folder, kept as minicom and cu keep them: a lock whose process
// lives holds the port; a lock that names no process (empty, or garbage) is respected, as it
// may be one that its maker has just created and not yet written; only a lock whose process has
// ended is stale and removed.
//
// Each returns 0 or an errno value (EBUSY: the lock file stands in the way), and says in refusal
// which lock file and which process.

#include "serial/port_failure.h"

#include <string>

namespace serial {

// The folder of the lock files, /run/lock unless a test has chosen another.
std::string LockDirectory();
// For tests: makes the lock files go to `directory` (empty restores /run/lock).
void SetLockDirectoryForTests(const std::string& directory);

// The lock file of a device path: LCK..<name>, the name being the path below /dev with '/'
// turned into '_' (/dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3).
std::string LockFilePath(const std::string& devicePath);

// Whether the lock file lets the port be had. A stale lock is removed when removeStale is set;
// otherwise it counts as no lock when it could be removed.
int CheckLockFile(const std::string& devicePath, bool removeStale, PortRefusal& refusal);

// Takes the lock file, holding this process's PID in the usual 10-character form. Where the
// lock folder is missing or not writable nothing is taken and 0 is returned. `taken` tells
// whether ReleaseLockFile has something to remove.
int TakeLockFile(const std::string& devicePath, bool& taken, PortRefusal& refusal);
void ReleaseLockFile(const std::string& devicePath);

} // namespace serial
