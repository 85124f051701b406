#include "serial/port_holders.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace serial {
namespace {

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

std::string LinkTarget(const std::string& link) {
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    return length > 0 && length < static_cast<ssize_t>(sizeof target)
               ? std::string(target, static_cast<std::size_t>(length))
               : std::string();
}

// The master side of a pseudo-terminal (/dev/ptmx, or the ptmx of a devpts mount).
bool IsMasterLink(const std::string& target) {
    return target == "/dev/ptmx" || target.ends_with("/pts/ptmx");
}

// The number N of /dev/pts/N, -1 for any other device.
int SlaveIndex(const std::string& path) {
    constexpr std::string_view prefix = "/dev/pts/";
    if (!path.starts_with(prefix) || !AllDigits(path.c_str() + prefix.size())) {
        return -1;
    }
    return std::atoi(path.c_str() + prefix.size());
}

// The slave number of a master descriptor, from its "tty-index:" line; -1 when unknown.
int MasterIndex(const std::string& fdinfoPath) {
    const int fd = open(fdinfoPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char text[512];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) {
        return -1;
    }
    text[length] = '\0';
    const std::string_view info(text, static_cast<std::size_t>(length));
    const std::size_t at = info.find("tty-index:");
    return at == std::string_view::npos ? -1 : std::atoi(text + at + 10);
}

} // namespace

std::vector<pid_t> FindHolders(const std::vector<std::string>& devicePaths, Deadline deadline) {
    std::vector<pid_t> holders(devicePaths.size(), 0);
    DIR* processes = opendir("/proc");
    if (processes == nullptr) {
        return holders;
    }
    const std::string self = std::to_string(getpid());
    std::size_t left = std::count_if(devicePaths.begin(), devicePaths.end(),
                                     [](const std::string& path) { return !path.empty(); });
    std::vector<std::size_t> held;
    std::vector<int> masters;
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
        const dirent* entry = readdir(processes);
        if (entry == nullptr) {
            break;
        }
        if (!AllDigits(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const std::string process = std::string("/proc/") + entry->d_name;
        DIR* fds = opendir((process + "/fd").c_str());
        if (fds == nullptr) {
            continue; // gone, or not ours to look into
        }
        held.clear();
        masters.clear();
        while (const dirent* fd = readdir(fds)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            const std::string target = LinkTarget(process + "/fd/" + fd->d_name);
            if (IsMasterLink(target)) {
                masters.push_back(MasterIndex(process + "/fdinfo/" + fd->d_name));
                continue;
            }
            for (std::size_t i = 0; i < devicePaths.size(); ++i) {
                if (holders[i] == 0 && !target.empty() && target == devicePaths[i]) {
                    held.push_back(i);
                }
            }
        }
        closedir(fds);
        for (std::size_t i : held) {
            const int slave = SlaveIndex(devicePaths[i]);
            if (holders[i] != 0 ||
                (slave >= 0 && std::find(masters.begin(), masters.end(), slave) != masters.end())) {
                continue; // the pair's maker offers the slave, it does not use it
            }
            holders[i] = static_cast<pid_t>(std::atoi(entry->d_name));
            --left;
        }
    }
    closedir(processes);
    return holders;
}

bool FindFlockHolder(const std::string& devicePath, pid_t& holder) {
    holder = 0;
    struct stat node {};
    if (stat(devicePath.c_str(), &node) != 0) {
        return false;
    }
    std::FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) {
        return false;
    }
    bool found = false;
    char line[256];
    while (!found && std::fgets(line, sizeof line, locks) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; waiters carry "->" and hold nothing.
        char kind[16] = {};
        int pid = 0;
        unsigned devMajor = 0;
        unsigned devMinor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", kind, &pid, &devMajor, &devMinor,
                        &inode) != 5) {
            continue;
        }
        found = std::string_view(kind) == "FLOCK" && devMajor == major(node.st_dev) &&
                devMinor == minor(node.st_dev) && inode == node.st_ino;
        holder = found && pid > 0 ? static_cast<pid_t>(pid) : 0;
    }
    std::fclose(locks);
    return found;
}

std::string ProcessName(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char name[64];
    const ssize_t length = read(fd, name, sizeof name);
    close(fd);
    std::string text(name, length > 0 ? static_cast<std::size_t>(length) : 0);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

} // namespace serial
