#pragma once
// Opening a terminal device so that no other program shares it.

#include <string>

namespace serial {

// Opens a terminal device exclusively (O_NOCTTY, flock and TIOCEXCL) and refuses it with EBUSY
// when another process of the same user has it open or a live process holds its lock file;
// never creates anything. Returns 0 and the descriptor, or an errno value.
int OpenExclusive(const char* path, int& fd);
// Releases a descriptor from OpenExclusive.
void CloseExclusive(int fd);

// The device behind a path, links followed, for the lock file's name.
std::string RealDevicePath(const char* path);

} // namespace serial
