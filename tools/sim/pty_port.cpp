#include "tools/sim/pty_port.h"

#include "serial/port_names.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrnoText() {
    return std::strerror(errno);
}

// mkdir -p
bool MakeDirectories(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string LinkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

int OpenPseudoTerminal(std::string& path, std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = "cannot create a pseudo-terminal: " + ErrnoText();
        if (master >= 0)
            close(master);
        return -1;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal: " + ErrnoText();
        close(master);
        return -1;
    }
    const int program = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (program >= 0)
        close(program);
    path = name;
    return master;
}

bool CPortEntry::Create(int number, const std::string& target, bool force, std::string& error) {
    const std::string directory = serial::PortDirectory();
    if (!MakeDirectories(directory)) {
        error = "cannot create the port directory " + directory + ": " + ErrnoText();
        return false;
    }
    const std::string path = directory + "/COM" + std::to_string(number);
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        const std::string existing = LinkTarget(path);
        if (existing != target && !force) {
            error = path + " already exists" +
                    (existing.empty() ? "" : " and points to " + existing) +
                    "; use --force to replace it";
            return false;
        }
    }
    // Make the link under a private name, then move it over any old entry in one step.
    const std::string temporary = path + ".trakbus-sim." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot create " + path + ": " + ErrnoText();
        unlink(temporary.c_str());
        return false;
    }
    m_path = path;
    m_target = target;
    return true;
}

void CPortEntry::Remove() {
    if (m_path.empty())
        return;
    if (LinkTarget(m_path) == m_target)
        unlink(m_path.c_str());
    m_path.clear();
}
