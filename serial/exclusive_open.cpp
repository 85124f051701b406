#include "serial/exclusive_open.h"

#include "serial/port_holders.h"
#include "serial/port_lock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial {
namespace {

// How long the look for other openers may take; an open is not kept waiting for longer.
constexpr auto HolderScanBudget = std::chrono::milliseconds(1000);

int TakeExclusive(int fd, const std::string& device, PortRefusal& refusal) {
    if (!isatty(fd)) {
        return errno;
    }
    // Root passes TIOCEXCL, but the flag still says that another program wants the port alone.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return EBUSY;
    }
    // Programs that use neither flock nor TIOCEXCL: a plain open(2) elsewhere, a lock file.
    const pid_t holder =
        FindHolders({device}, std::chrono::steady_clock::now() + HolderScanBudget).front();
    if (holder != 0) {
        refusal.holder = holder;
        return EBUSY;
    }
    if (int error = CheckLockFile(device, true, refusal)) {
        return error;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        pid_t locker = 0;
        if (FindFlockHolder(device, locker) && locker != getpid()) {
            refusal.holder = locker;
        }
        return error;
    }
    // flock also keeps out root, whom TIOCEXCL lets through.
    return ioctl(fd, TIOCEXCL) == 0 ? 0 : errno;
}

} // namespace

std::string RealDevicePath(const char* path) {
    char* real = realpath(path, nullptr);
    if (real == nullptr) {
        return path;
    }
    std::string result = real;
    std::free(real);
    return result;
}

int OpenExclusive(const char* path, int& fd, PortRefusal& refusal) {
    refusal = {};
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refusal.error = errno;
        return refusal.error;
    }
    refusal.error = TakeExclusive(fd, RealDevicePath(path), refusal);
    if (refusal.error != 0) {
        close(fd); // nothing taken: flock goes with the descriptor, TIOCEXCL was not set
        fd = -1;
    }
    return refusal.error;
}

void CloseExclusive(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

} // namespace serial
