#include "tests/kelvload/pty_bus.h"

#include "busproto/messages.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

std::string PortEntryPath(int comNumber) {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path dir =
        std::filesystem::path(home != nullptr ? home : "/nonexistent") / "Kestrom" / "ports";
    return (dir / ("COM" + std::to_string(comNumber))).string();
}

PtyBus::PtyBus(int comNumber) {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = name;
    m_entry = PortEntryPath(comNumber);
    std::filesystem::create_directories(std::filesystem::path(m_entry).parent_path());
    std::filesystem::remove(m_entry);
    std::filesystem::create_symlink(m_slavePath, m_entry);
    m_reader = std::thread([this] { ReaderLoop(); });
}

PtyBus::~PtyBus() {
    m_stop = true;
    m_reader.join();
    std::error_code ignored;
    std::filesystem::remove(m_entry, ignored);
    close(m_slave);
    close(m_master);
}

void PtyBus::SetDiscoverReplies(std::vector<Bytes> replies) {
    std::lock_guard guard(m_mutex);
    m_replies = std::move(replies);
}

void PtyBus::Inject(const Bytes& bytes) {
    std::lock_guard guard(m_writeLock);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

std::vector<Bytes> PtyBus::Messages() const {
    std::lock_guard guard(m_mutex);
    return m_messages;
}

bool PtyBus::WaitForMessages(size_t count, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_messages.size() >= count; });
}

void PtyBus::ReaderLoop() {
    Bytes partial;
    size_t expected = 0;
    while (!m_stop) {
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0) {
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            // No slave open (EIO): wait for the loader to open its side.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = buffer[i];
            if ((b & 0x80) != 0) {
                partial.assign(1, b);
                expected = 0;
                continue;
            }
            if (partial.empty()) {
                continue;
            }
            partial.push_back(b);
            if (partial.size() == 2) {
                expected = partial[0] == kLongOpcode ? b : 0;
            }
            if (expected != 0 && partial.size() == expected) {
                HandleMessage(partial);
                partial.clear();
            }
        }
    }
}

void PtyBus::HandleMessage(const Bytes& message) {
    std::vector<Bytes> replies;
    {
        std::lock_guard guard(m_mutex);
        m_messages.push_back(message);
        std::uint8_t group = 0, code = 0, data[12] = {};
        const bool isDiscover =
            DecodeDeviceMessage(message.data(), static_cast<int>(message.size()), &group, &code,
                                data) &&
            group == kDeviceGroup && code == kRequestCode && data[2] == 0;
        if (isDiscover) {
            replies = m_replies;
        }
    }
    m_changed.notify_all();
    if (m_echo) {
        Inject(message);
    }
    for (const Bytes& reply : replies) {
        Inject(reply);
    }
}
