#include "serial/exclusive_open.h"

#include "serial/port_lock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

std::string RealDevicePath(const char* path) {
    char* real = realpath(path, nullptr);
    if (real == nullptr) {
        return path;
    }
    std::string result = real;
    std::free(real);
    return result;
}

int OpenExclusive(const char* path, int& fd) {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // flock also keeps out root, whom TIOCEXCL lets through.
    int error = 0;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
    } else {
        // Programs that use neither: a plain open(2) elsewhere, or a UUCP lock file.
        struct stat device {};
        if (fstat(fd, &device) == 0) {
            error = CheckOtherOpeners(device.st_rdev);
        }
        if (error == 0) {
            error = CheckLockFile(RealDevicePath(path));
        }
    }
    if (error != 0) {
        close(fd);
        fd = -1;
    }
    return error;
}

void CloseExclusive(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

} // namespace serial
