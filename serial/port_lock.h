#pragma once
// Checks that keep two programs off one port, beyond flock and TIOCEXCL (which only work
// against programs that use them): UUCP lock files in the lock folder, and other processes of
// the same user that hold the device open with a plain open(2).
//
// Each returns 0 or an errno value; EBUSY means that another program holds the port.

#include <string>
#include <sys/types.h>

namespace serial {

// The folder of the lock files, /run/lock unless a test has chosen another.
std::string LockDirectory();
// For tests: makes the lock files go to `directory` (empty restores /run/lock).
void SetLockDirectoryForTests(const std::string& directory);

// The lock file of a device path: LCK..<name>, the name being the path below /dev with '/'
// turned into '_' (/dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3).
std::string LockFilePath(const std::string& devicePath);

// EBUSY when a live process holds the lock file of the device; a lock of a dead process or
// one that cannot be read is stale and removed where the folder allows it.
int CheckLockFile(const std::string& devicePath);

// Takes the lock file, holding this process's PID in the usual 10-character form. Where the
// lock folder is missing or not writable nothing is taken and 0 is returned. `taken` tells
// whether ReleaseLockFile has something to remove.
int TakeLockFile(const std::string& devicePath, bool& taken);
void ReleaseLockFile(const std::string& devicePath);

// EBUSY when another process of the same user has the character device `rdev` open.
int CheckOtherOpeners(dev_t rdev);

} // namespace serial
