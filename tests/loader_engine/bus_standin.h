#pragma once
// A stand-in for the bus interface on a pseudo-terminal: it records every
// message that the loader writes, with the times it arrived, and returns each
// one as its echo, after a chosen delay or not at all. It can also emulate the
// time that the bytes take on the wire at a given bit rate.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How late the stand-in may read a message on a busy machine. A message
// that is echoed cannot be followed by the next before its echo, which
// leaves after the reading, so gaps that follow an echo need no allowance;
// gaps after a message that is not echoed do.
inline constexpr std::int64_t kReadLatencyNs = 10'000'000;

struct BusMessageSeen {
    std::vector<std::uint8_t> bytes;
    std::int64_t firstByteNs = 0; // monotonic time the opcode was read
    std::int64_t lastByteNs = 0;  // monotonic time the checksum was read
};

class BusStandIn {
public:
    // Makes the pty and the port entry COM<comNumber> in the port directory.
    explicit BusStandIn(int comNumber);
    ~BusStandIn();
    BusStandIn(const BusStandIn&) = delete;
    BusStandIn& operator=(const BusStandIn&) = delete;

    // Echo delay in ms after a message has been read; -1 sends no echo.
    void SetEchoDelayMs(int delayMs) { m_echoDelayMs = delayMs; }
    // Decides per message (0-based index among the messages read) whether it
    // is echoed; unset echoes all. Set before the loader writes.
    void SetEchoFilter(std::function<bool(int index, const BusMessageSeen&)> filter);
    // With a bit rate above 0, every byte written either way takes 10 bits of
    // wire time: a message counts as received when its last bit would have
    // arrived, and its echo leaves no earlier than that.
    void SetWireBitRate(int bitRate) { m_wireBitRate = bitRate; }

    // Writes bytes to the loader as they are.
    void Inject(const std::vector<std::uint8_t>& bytes);

    std::vector<BusMessageSeen> Messages() const;
    std::vector<std::uint8_t> RawBytes() const;
    // Waits until at least `count` messages were read; false on time-out.
    bool WaitForMessages(size_t count, int timeoutMs) const;

    const std::string& SlavePath() const { return m_slavePath; }

private:
    void ReaderLoop();
    void HandleBytes(const std::uint8_t* data, long count, std::int64_t nowNs);
    void ScheduleEcho(const BusMessageSeen& message);
    void SendDueEchoes(std::int64_t nowNs);
    std::int64_t WireNs(size_t bytes) const;

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_portEntry;

    std::atomic<int> m_echoDelayMs{0};
    std::atomic<int> m_wireBitRate{0};
    std::function<bool(int, const BusMessageSeen&)> m_echoFilter;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<BusMessageSeen> m_messages;
    std::vector<std::uint8_t> m_raw;

    // Reader thread only.
    std::vector<std::uint8_t> m_partial;
    std::int64_t m_partialFirstNs = 0;
    std::int64_t m_lineFreeNs = 0;
    struct PendingEcho {
        std::int64_t dueNs;
        std::vector<std::uint8_t> bytes;
    };
    std::deque<PendingEcho> m_echoes;

    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
