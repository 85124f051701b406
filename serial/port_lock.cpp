#include "serial/port_lock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {
namespace {

std::mutex directoryMutex;
std::string chosenDirectory;

// The PID in a lock file: ten ASCII characters (spaces then digits) and a newline, or the
// binary int that some old programs write.
pid_t ReadLockPid(const std::string& path, bool& readable) {
    readable = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length == static_cast<ssize_t>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        readable = binary > 0;
        return binary;
    }
    if (length <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    readable = end != text && pid > 0 && pid < (1L << 22);
    return static_cast<pid_t>(pid);
}

bool ProcessLives(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

bool FolderWritable(const std::string& folder) {
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

bool AllDigits(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

// Whether one process has the character device open on any of its descriptors.
bool ProcessHasDevice(const std::string& processFolder, dev_t rdev) {
    const std::string fdFolder = processFolder + "/fd";
    DIR* fds = opendir(fdFolder.c_str());
    if (fds == nullptr) {
        return false; // gone, or not ours to look into
    }
    bool found = false;
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        struct stat target {};
        const std::string link = fdFolder + "/" + entry->d_name;
        if (stat(link.c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == rdev) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
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

int CheckLockFile(const std::string& devicePath) {
    const std::string path = LockFilePath(devicePath);
    bool readable = false;
    const pid_t pid = ReadLockPid(path, readable);
    if (!readable) {
        if (access(path.c_str(), F_OK) == 0 && FolderWritable(LockDirectory())) {
            unlink(path.c_str()); // empty or garbled: nobody can be proved to hold it
        }
        return 0;
    }
    if (pid != getpid() && ProcessLives(pid)) {
        return EBUSY;
    }
    if (pid != getpid() && FolderWritable(LockDirectory())) {
        unlink(path.c_str()); // its process has ended
    }
    return 0;
}

int TakeLockFile(const std::string& devicePath, bool& taken) {
    taken = false;
    if (int error = CheckLockFile(devicePath)) {
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
        bool readable = false;
        const pid_t holder = ReadLockPid(path, readable);
        taken = readable && holder == getpid();
        result = taken ? 0 : EBUSY; // someone was faster
    }
    unlink(draft.c_str());
    return result;
}

void ReleaseLockFile(const std::string& devicePath) {
    const std::string path = LockFilePath(devicePath);
    bool readable = false;
    if (ReadLockPid(path, readable) == getpid() && readable) {
        unlink(path.c_str());
    }
}

int CheckOtherOpeners(dev_t rdev) {
    DIR* processes = opendir("/proc");
    if (processes == nullptr) {
        return 0;
    }
    const std::string self = std::to_string(getpid());
    const uid_t user = geteuid();
    int result = 0;
    while (const dirent* entry = readdir(processes)) {
        if (!AllDigits(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const std::string folder = std::string("/proc/") + entry->d_name;
        struct stat owner {};
        if (stat(folder.c_str(), &owner) != 0 || owner.st_uid != user) {
            continue;
        }
        if (ProcessHasDevice(folder, rdev)) {
            result = EBUSY;
            break;
        }
    }
    closedir(processes);
    return result;
}

} // namespace serial
