#include "monitor/send_file_job.h"

CSendFileJob::~CSendFileJob() {
    RequestStop();
    Wait();
}

bool CSendFileJob::Start(const QString& path, std::uint64_t total, ChunkWriter write,
                         std::function<void()> progress) {
    if (m_running.load())
        return false;
    Wait(); // the thread of a transfer that has ended
    m_stop.Reset();
    m_sent.store(0);
    m_total = total;
    m_result = SendFileResult{};
    m_running.store(true);
    m_thread = std::thread([this, path, write = std::move(write), progress = std::move(progress)] {
        const auto counted = [&](const std::uint8_t* data, std::uint32_t length,
                                 std::uint32_t& written) {
            const int result = write(data, length, written);
            m_sent.fetch_add(written);
            if (progress)
                progress();
            return result;
        };
        // The port was open when the transfer was asked for; a port closed since makes the
        // first write come back short.
        m_result = SendFile(
            path, true, counted, [this](int ms) { m_stop.Wait(static_cast<std::uint32_t>(ms)); },
            [this] { return m_stop.IsSet(); });
        m_running.store(false);
        if (progress)
            progress();
    });
    return true;
}

void CSendFileJob::RequestStop() {
    m_stop.Set();
}

void CSendFileJob::Wait() {
    if (m_thread.joinable())
        m_thread.join();
}
