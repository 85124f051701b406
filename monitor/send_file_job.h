#pragma once
// A send file played back on a thread of its own, so that the window keeps running while the
// chunks go out: each write may wait for the port for up to its time-out.

#include "monitor/send_file.h"
#include "platform/core/manual_reset_signal.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class CSendFileJob {
public:
    CSendFileJob() = default;
    CSendFileJob(const CSendFileJob&) = delete;
    CSendFileJob& operator=(const CSendFileJob&) = delete;
    // Stops a running transfer after its chunk and waits for it.
    ~CSendFileJob();

    // Starts sending the file through `write`, which runs on the job's thread, as does
    // `progress` after every chunk and once more at the end. `total` is the file's length as
    // taken now. False, and nothing starts, while an earlier transfer still runs.
    bool Start(const QString& path, std::uint64_t total, ChunkWriter write,
               std::function<void()> progress);
    // The transfer ends after the chunk under way; a pause after a short write is cut short.
    void RequestStop();
    // Waits for the job's thread to end; afterwards Result() holds its outcome.
    void Wait();

    // Between Start and the end of the transfer.
    bool Running() const { return m_running.load(); }
    std::uint64_t BytesSent() const { return m_sent.load(); }
    std::uint64_t Total() const { return m_total; }
    // The outcome of the last transfer, valid after Wait().
    const SendFileResult& Result() const { return m_result; }

private:
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_sent{0};
    std::uint64_t m_total = 0;
    platform::ManualResetSignal m_stop;
    SendFileResult m_result;
};
