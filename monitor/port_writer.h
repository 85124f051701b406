#pragma once
// The one thread that writes to the port. Typed messages and a send file's chunks go out one
// write at a time; a message queued during a transfer goes out between two chunks. Nothing here
// makes the caller wait for the line: each write may take its wire time and more.

#include "monitor/send_file.h"
#include "platform/core/manual_reset_signal.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CPortWriter {
public:
    // At most this many messages wait; a click beyond them is refused.
    static constexpr std::size_t kMaxQueuedMessages = 1000;

    // `write` makes one write to the port; it runs on the writer's thread only.
    explicit CPortWriter(ChunkWriter write);
    CPortWriter(const CPortWriter&) = delete;
    CPortWriter& operator=(const CPortWriter&) = delete;
    // Stops a transfer after its chunk, drops the messages waiting and ends the thread.
    ~CPortWriter();

    // Queues a message; it goes out after the write under way. False, and nothing is queued,
    // when kMaxQueuedMessages wait already.
    bool Queue(std::vector<std::uint8_t> message);

    // Starts sending the file, in chunks on the writer's thread, where `progress` runs after
    // every chunk and once more at the end. `total` is the file's length as taken now. False,
    // and nothing starts, while an earlier transfer still runs.
    bool StartFile(const QString& path, std::uint64_t total, std::function<void()> progress);
    // The transfer ends after the chunk under way; a pause after a short write is cut short.
    void RequestStop();
    // For closing the port: drops the messages not written yet and stops a transfer after the
    // chunk under way.
    void Cancel();
    // Waits until no write is under way and no transfer runs. Called once the port is closed,
    // which makes a write under way return.
    void WaitIdle();

    // Between StartFile and the end of the transfer.
    bool Running() const { return m_running.load(); }
    std::uint64_t BytesSent() const { return m_sent.load(); }
    std::uint64_t Total() const { return m_total.load(); }
    // The outcome of the last transfer, valid once Running() is false.
    SendFileResult Result() const;

private:
    void Run();
    // Writes the messages waiting; on the writer's thread.
    void WriteQueued(std::unique_lock<std::mutex>& lock);
    void SendTheFile(std::unique_lock<std::mutex>& lock);

    ChunkWriter m_write;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // work for the thread
    std::condition_variable m_idle; // a write or a transfer ended
    std::deque<std::vector<std::uint8_t>> m_messages;
    bool m_writing = false;     // a write (or a transfer) is under way
    bool m_filePending = false; // StartFile was called and the thread has not begun it yet
    bool m_quit = false;
    QString m_path;
    std::function<void()> m_progress;
    SendFileResult m_result;
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_sent{0};
    std::atomic<std::uint64_t> m_total{0};
    platform::ManualResetSignal m_stop;
    std::thread m_thread; // last: it starts once everything else is there
};
