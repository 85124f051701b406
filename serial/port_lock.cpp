#include "serial/port_lock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {
namespace {

std::mutex directoryMutex;
std::string chosenDirectory;

// The PID in a lock file: ten ASCII characters (spaces then digits) and a newline, or the
// binary int that some old programs write. 0 when the file names no process.
pid_t ReadLockPid(const std::string& path, bool& exists) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    exists = fd >= 0 || errno != ENOENT;
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length == static_cast<ssize_t>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary > 0 ? binary : 0;
    }
    if (length <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    const bool wellFormed = end != text && (*end == '\n' || *end == '\0' || *end == ' ');
    return wellFormed && pid > 0 && pid < (1L << 22) ? static_cast<pid_t>(pid) : 0;
}

bool ProcessLives(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

bool FolderWritable(const std::string& folder) {
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

// Whether unlink would take the file away: the folder is writable and, where it is sticky
// (/run/lock is), the file or the folder is ours.
bool Removable(const std::string& folder, const std::string& path) {
    struct stat dir {};
    struct stat file {};
    if (!FolderWritable(folder) || stat(folder.c_str(), &dir) != 0 ||
        lstat(path.c_str(), &file) != 0) {
        return false;
    }
    const uid_t user = geteuid();
    return (dir.st_mode & S_ISVTX) == 0 || user == 0 || file.st_uid == user || dir.st_uid == user;
}

int Refuse(PortRefusal& refusal, PortRefusal::Lock lock, const std::string& path, pid_t pid) {
    refusal.error = EBUSY;
    refusal.lock = lock;
    refusal.lockFile = path;
    refusal.holder = pid;
    return EBUSY;
}

} // namespace

std::string LockDirectory() {
    std::lock_guard lock(directoryMutex);
    return chosenDirectory.empty() ? std::string("/run/lock") : chosenDirectory;
}

void SetLockDirectoryForTests(const std::string& directory) {
    std::lock_guard lock(directoryMutex);
    chosenDirectory = directory;
}

std::string LockFilePath(const std::string& devicePath) {
    std::string name = devicePath;
    if (name.starts_with("/dev/")) {
        name.erase(0, 5);
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return LockDirectory() + "/LCK.." + name;
}

int CheckLockFile(const std::string& devicePath, bool removeStale, PortRefusal& refusal) {
    const std::string path = LockFilePath(devicePath);
    bool exists = false;
    const pid_t pid = ReadLockPid(path, exists);
    if (!exists || pid == getpid()) {
        return 0; // ours is left to flock, which tells our own opens apart
    }
    if (pid == 0) {
        return Refuse(refusal, PortRefusal::Lock::Unreadable, path, 0);
    }
    if (ProcessLives(pid)) {
        return Refuse(refusal, PortRefusal::Lock::Live, path, pid);
    }
    const std::string folder = LockDirectory();
    if (!removeStale) {
        return Removable(folder, path) ? 0 : Refuse(refusal, PortRefusal::Lock::Stale, path, pid);
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        return Refuse(refusal, PortRefusal::Lock::Stale, path, pid);
    }
    return 0;
}

int TakeLockFile(const std::string& devicePath, bool& taken, PortRefusal& refusal) {
    taken = false;
    if (int error = CheckLockFile(devicePath, true, refusal)) {
        return error;
    }
    const std::string folder = LockDirectory();
    if (!FolderWritable(folder)) {
        return 0;
    }
    const std::string path = LockFilePath(devicePath);
    char pidText[16];
    std::snprintf(pidText, sizeof pidText, "%10d\n", static_cast<int>(getpid()));
    // Written aside and linked into place, so that nobody reads a half-written lock.
    const std::string draft = path + ".tmp" + std::to_string(getpid());
    const int fd = open(draft.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return 0; // the folder refuses us: the other checks still apply
    }
    fchmod(fd, 0644);
    const bool written = write(fd, pidText, 11) == 11;
    close(fd);
    int result = 0;
    if (written && link(draft.c_str(), path.c_str()) == 0) {
        taken = true;
    } else if (errno == EEXIST) {
        // Someone was faster: their lock is the reason.
        bool exists = false;
        const pid_t holder = ReadLockPid(path, exists);
        if (holder != getpid()) {
            result = Refuse(refusal,
                            holder != 0 ? PortRefusal::Lock::Live : PortRefusal::Lock::Unreadable,
                            path, holder);
        }
    }
    unlink(draft.c_str());
    return result;
}

void ReleaseLockFile(const std::string& devicePath) {
    const std::string path = LockFilePath(devicePath);
    bool exists = false;
    if (ReadLockPid(path, exists) == getpid()) {
        unlink(path.c_str());
    }
}

} // namespace serial
