#include "tests/serial/pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace serialtest {

PtyPair::PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    close(slave); // the port under test opens it again by its path
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Programs that a test starts do not inherit the line's other end.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    path_ = name;
}

PtyPair::~PtyPair() {
    Unplug();
}

void PtyPair::Unplug() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

void PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("write to the pseudo-terminal master failed");
        }
    }
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> received;
    std::uint8_t chunk[4096];
    while (received.size() < count) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            break;
        }
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        received.insert(received.end(), chunk, chunk + n);
    }
    return received;
}

std::string UsePrivateConfigHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "serial-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    return pattern;
}

void AddPortEntry(const std::string& name, const std::string& target) {
    const std::filesystem::path dir =
        std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Kestrom" / "ports";
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(target, dir / name);
}

} // namespace serialtest
