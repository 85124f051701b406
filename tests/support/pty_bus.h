#pragma once
// A stand-in for the bus interface on a pseudo-terminal: the program opens the slave side as
// "\\.\COMn" through a port entry in the private configuration directory. Every message the
// program writes is recorded with the times it arrived and returned as its echo, after a
// chosen delay or not at all; a discover request is answered after its echo with the replies
// the test sets. It can also emulate the time the bytes take on the wire at a given bit rate.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// How late the stand-in may read a message on a busy machine. A message
// that is echoed cannot be followed by the next before its echo, which
// leaves after the reading, so gaps that follow an echo need no allowance;
// gaps after a message that is not echoed do.
inline constexpr std::int64_t kReadLatencyNs = 10'000'000;

struct BusMessageSeen {
    Bytes bytes;
    std::int64_t firstByteNs = 0; // monotonic time the opcode was read
    std::int64_t lastByteNs = 0;  // monotonic time the checksum was read
};

class PtyBus {
public:
    // Makes the pty and the port entry COM<comNumber> in the port directory.
    explicit PtyBus(int comNumber);
    ~PtyBus();
    PtyBus(const PtyBus&) = delete;
    PtyBus& operator=(const PtyBus&) = delete;

    // Echo delay in ms after a message has been read; -1 sends no echo.
    void SetEchoDelayMs(int delayMs) { m_echoDelayMs = delayMs; }
    // Decides per message (0-based index among the messages read) whether it
    // is echoed; unset echoes all. Set before the program writes.
    void SetEchoFilter(std::function<bool(int index, const BusMessageSeen&)> filter);
    // With a bit rate above 0, every byte written either way takes 10 bits of
    // wire time: a message counts as received when its last bit would have
    // arrived, and its echo leaves no earlier than that.
    void SetWireBitRate(int bitRate) { m_wireBitRate = bitRate; }
    // Whole messages sent after the echo of every discover request.
    void SetDiscoverReplies(std::vector<Bytes> replies);

    // Writes bytes to the program as they are.
    void Inject(const Bytes& bytes);

    std::vector<BusMessageSeen> Messages() const;
    // The bytes of every message read, without their times.
    std::vector<Bytes> MessageBytes() const;
    // Every byte read, inside messages or not.
    Bytes RawBytes() const;
    // Waits until at least `count` messages were read; false on time-out.
    bool WaitForMessages(size_t count, int timeoutMs) const;

    const std::string& SlavePath() const { return m_slavePath; }

private:
    void ReaderLoop();
    void HandleBytes(const std::uint8_t* data, long count, std::int64_t nowNs);
    void HandleMessage(const BusMessageSeen& message);
    void SendDueOutput(std::int64_t nowNs);
    std::int64_t WireNs(size_t bytes) const;

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_portEntry;

    std::atomic<int> m_echoDelayMs{0};
    std::atomic<int> m_wireBitRate{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::function<bool(int, const BusMessageSeen&)> m_echoFilter;
    std::vector<Bytes> m_discoverReplies;
    std::vector<BusMessageSeen> m_messages;
    Bytes m_raw;

    // The reader thread and the test may both write.
    std::mutex m_writeLock;

    // Reader thread only.
    Bytes m_partial;
    std::int64_t m_partialFirstNs = 0;
    std::int64_t m_lineFreeNs = 0;
    struct PendingOutput {
        std::int64_t dueNs;
        Bytes bytes;
    };
    std::deque<PendingOutput> m_output;

    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

// The path of the port entry COM<n> in the current private configuration directory.
std::string PortEntryPath(int comNumber);
