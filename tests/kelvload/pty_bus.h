#pragma once
// A bus interface on a pseudo-terminal for the loader's tests: the loader opens the slave
// side as "\\.\COMn" through a port entry in the private configuration directory. Every
// message the loader writes is recorded and, unless echoes are off, written back as its echo;
// a discover request is answered after its echo with the replies the test sets.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class PtyBus {
public:
    // Makes the pty and the port entry COM<comNumber>.
    explicit PtyBus(int comNumber);
    ~PtyBus();
    PtyBus(const PtyBus&) = delete;
    PtyBus& operator=(const PtyBus&) = delete;

    void SetEcho(bool on) { m_echo = on; }
    // Whole messages sent after the echo of every discover request.
    void SetDiscoverReplies(std::vector<Bytes> replies);
    // Writes bytes to the loader as they are.
    void Inject(const Bytes& bytes);

    std::vector<Bytes> Messages() const;
    bool WaitForMessages(size_t count, int timeoutMs) const;

    const std::string& SlavePath() const { return m_slavePath; }

private:
    void ReaderLoop();
    void HandleMessage(const Bytes& message);

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_entry;
    std::atomic<bool> m_echo{true};
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Bytes> m_messages;
    std::vector<Bytes> m_replies;
    std::mutex m_writeLock;
    std::thread m_reader;
};

// The path of the port entry COM<n> in the current private configuration directory.
std::string PortEntryPath(int comNumber);
