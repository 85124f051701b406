#include "tests/support/pty_bus.h"

#include "busproto/checksum.h"
#include "busproto/messages.h"
#include "loader/precise_delay.h"
#include "serial/port_names.h"
#include "tests/support/raw_pty.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

namespace {

bool IsDiscoverRequest(const Bytes& message) {
    std::uint8_t group = 0, code = 0, data[12] = {};
    return DecodeDeviceMessage(message.data(), static_cast<int>(message.size()), &group, &code,
                               data) &&
           group == kDeviceGroup && code == kRequestCode && data[2] == 0;
}

} // namespace

std::string PortEntryPath(int comNumber) {
    return (std::filesystem::path(serial::PortDirectory()) / ("COM" + std::to_string(comNumber)))
        .string();
}

PtyBus::PtyBus(int comNumber) {
    m_slavePath = OpenRawPty(m_master, m_slave);

    m_portEntry = PortEntryPath(comNumber);
    std::filesystem::create_directories(std::filesystem::path(m_portEntry).parent_path());
    std::filesystem::remove(m_portEntry);
    std::filesystem::create_symlink(m_slavePath, m_portEntry);

    m_reader = std::thread([this] { ReaderLoop(); });
}

PtyBus::~PtyBus() {
    m_stop = true;
    m_reader.join();
    std::error_code ignored;
    std::filesystem::remove(m_portEntry, ignored);
    close(m_slave);
    close(m_master);
}

void PtyBus::SetEchoFilter(std::function<bool(int, const BusMessageSeen&)> filter) {
    std::lock_guard guard(m_mutex);
    m_echoFilter = std::move(filter);
}

void PtyBus::SetDiscoverReplies(std::vector<Bytes> replies) {
    std::lock_guard guard(m_mutex);
    m_discoverReplies = std::move(replies);
}

void PtyBus::Inject(const Bytes& bytes) {
    std::lock_guard guard(m_writeLock);
    size_t done = 0;
    // A program that has stopped reading must not hold up the stand-in's end.
    while (done < bytes.size() && !m_stop) {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else if (n < 0 && errno == EAGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

std::vector<BusMessageSeen> PtyBus::Messages() const {
    std::lock_guard guard(m_mutex);
    return m_messages;
}

std::vector<Bytes> PtyBus::MessageBytes() const {
    std::lock_guard guard(m_mutex);
    std::vector<Bytes> result;
    result.reserve(m_messages.size());
    for (const BusMessageSeen& message : m_messages) {
        result.push_back(message.bytes);
    }
    return result;
}

Bytes PtyBus::RawBytes() const {
    std::lock_guard guard(m_mutex);
    return m_raw;
}

bool PtyBus::WaitForMessages(size_t count, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_messages.size() >= count; });
}

std::int64_t PtyBus::WireNs(size_t bytes) const {
    const int rate = m_wireBitRate;
    if (rate <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(bytes) * 10 * 1'000'000'000LL / rate;
}

void PtyBus::ReaderLoop() {
    std::uint8_t buffer[4096];
    while (!m_stop) {
        std::int64_t waitNs = 20'000'000;
        if (!m_output.empty()) {
            waitNs = std::clamp<std::int64_t>(m_output.front().dueNs - MonotonicNowNs(), 0, waitNs);
        }
        const timespec timeout{0, static_cast<long>(waitNs)};
        pollfd pfd{m_master, POLLIN, 0};
        ppoll(&pfd, 1, &timeout, nullptr);
        for (;;) {
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            HandleBytes(buffer, n, MonotonicNowNs());
        }
        SendDueOutput(MonotonicNowNs());
    }
}

void PtyBus::HandleBytes(const std::uint8_t* data, long count, std::int64_t nowNs) {
    {
        std::lock_guard guard(m_mutex);
        m_raw.insert(m_raw.end(), data, data + count);
    }
    for (long i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (IsOpcode(b)) {
            m_partial.clear();
            m_partialFirstNs = nowNs;
        } else if (m_partial.empty()) {
            continue; // not inside a message
        }
        m_partial.push_back(b);
        const int expected =
            BusMessageLength(m_partial[0], m_partial.size() > 1 ? m_partial[1] : 0);
        const bool needsCount = (m_partial[0] & 0xE0) == 0xE0 && m_partial.size() < 2;
        if (needsCount || static_cast<int>(m_partial.size()) < expected) {
            continue;
        }
        BusMessageSeen seen;
        seen.bytes = m_partial;
        seen.firstByteNs = m_partialFirstNs;
        // The last bit cannot arrive before the line has carried every byte.
        const std::int64_t arrival =
            std::max(nowNs, std::max(m_partialFirstNs, m_lineFreeNs) + WireNs(m_partial.size()));
        m_lineFreeNs = arrival;
        seen.lastByteNs = arrival;
        m_partial.clear();
        HandleMessage(seen);
    }
}

void PtyBus::HandleMessage(const BusMessageSeen& message) {
    const int delayMs = m_echoDelayMs;
    bool echo = delayMs >= 0;
    std::vector<Bytes> replies;
    {
        std::lock_guard guard(m_mutex);
        if (echo && m_echoFilter) {
            echo = m_echoFilter(static_cast<int>(m_messages.size()), message);
        }
        if (IsDiscoverRequest(message.bytes)) {
            replies = m_discoverReplies;
        }
        m_messages.push_back(message);
    }
    m_changed.notify_all();
    std::int64_t dueNs = message.lastByteNs;
    if (echo) {
        // The interface passes each byte back as it goes by, so the echo ends
        // one byte time after the message.
        dueNs += WireNs(1) + delayMs * 1'000'000LL;
        m_output.push_back({dueNs, message.bytes});
    }
    for (Bytes& reply : replies) {
        m_output.push_back({dueNs, std::move(reply)});
    }
}

void PtyBus::SendDueOutput(std::int64_t nowNs) {
    while (!m_output.empty() && m_output.front().dueNs <= nowNs) {
        Inject(m_output.front().bytes);
        m_output.pop_front();
    }
}
