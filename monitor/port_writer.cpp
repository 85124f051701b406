#include "monitor/port_writer.h"

CPortWriter::CPortWriter(ChunkWriter write)
    : m_write(std::move(write)), m_thread([this] { Run(); }) {}

CPortWriter::~CPortWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_messages.clear();
    }
    m_stop.Set();
    m_wake.notify_all();
    m_thread.join();
}

bool CPortWriter::Queue(std::vector<std::uint8_t> message) {
    {
        std::lock_guard lock(m_mutex);
        if (m_messages.size() >= kMaxQueuedMessages)
            return false;
        m_messages.push_back(std::move(message));
    }
    m_wake.notify_all();
    return true;
}

bool CPortWriter::StartFile(const QString& path, std::uint64_t total,
                            std::function<void()> progress) {
    {
        std::lock_guard lock(m_mutex);
        if (m_running.load())
            return false;
        m_stop.Reset();
        m_path = path;
        m_progress = std::move(progress);
        m_result = SendFileResult{};
        m_sent.store(0);
        m_total.store(total);
        m_filePending = true;
        m_running.store(true);
    }
    m_wake.notify_all();
    return true;
}

void CPortWriter::RequestStop() {
    m_stop.Set();
}

void CPortWriter::Cancel() {
    std::lock_guard lock(m_mutex);
    m_messages.clear();
    m_stop.Set();
}

void CPortWriter::WaitIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_writing && !m_running.load(); });
}

SendFileResult CPortWriter::Result() const {
    std::lock_guard lock(m_mutex);
    return m_result;
}

void CPortWriter::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_messages.empty() || m_filePending; });
        if (m_quit)
            break;
        WriteQueued(lock);
        if (m_filePending)
            SendTheFile(lock);
    }
    // A transfer asked for but never begun still ends.
    if (m_filePending) {
        m_filePending = false;
        m_running.store(false);
    }
    m_idle.notify_all();
}

void CPortWriter::WriteQueued(std::unique_lock<std::mutex>& lock) {
    while (!m_messages.empty() && !m_quit) {
        const std::vector<std::uint8_t> message = std::move(m_messages.front());
        m_messages.pop_front();
        m_writing = true;
        lock.unlock();
        std::uint32_t written = 0;
        m_write(message.data(), static_cast<std::uint32_t>(message.size()), written);
        lock.lock();
        m_writing = false;
        m_idle.notify_all();
    }
}

void CPortWriter::SendTheFile(std::unique_lock<std::mutex>& lock) {
    m_filePending = false;
    m_writing = true;
    const QString path = m_path;
    const std::function<void()> progress = m_progress;
    lock.unlock();
    const auto chunk = [&](const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) {
        // The messages clicked meanwhile go first, between the last chunk and this one.
        {
            std::unique_lock relock(m_mutex);
            WriteQueued(relock);
            m_writing = true;
        }
        const int result = m_write(data, length, written);
        m_sent.fetch_add(written);
        if (progress)
            progress();
        return result;
    };
    // The port was open when the transfer was asked for; a port closed since makes the first
    // write come back short.
    const SendFileResult result = SendFile(
        path, true, chunk, [this](int ms) { m_stop.Wait(static_cast<std::uint32_t>(ms)); },
        [this] { return m_stop.IsSet(); });
    lock.lock();
    m_result = result;
    m_writing = false;
    m_running.store(false);
    m_idle.notify_all();
    lock.unlock();
    if (progress)
        progress();
    lock.lock();
}
