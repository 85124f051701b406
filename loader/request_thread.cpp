#include "loader/request_thread.h"

CRequestThread::~CRequestThread() {
    Stop();
}

void CRequestThread::Queue(std::function<void()> task) {
    std::lock_guard guard(m_mutex);
    if (m_stopping) {
        return;
    }
    m_tasks.push_back(std::move(task));
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Run(); });
    }
    m_changed.notify_one();
}

void CRequestThread::Stop() {
    std::thread ending;
    {
        std::lock_guard guard(m_mutex);
        m_stopping = true;
        ending = std::move(m_thread);
    }
    m_changed.notify_one();
    if (ending.joinable()) {
        ending.join();
    }
}

void CRequestThread::Run() {
    std::unique_lock guard(m_mutex);
    for (;;) {
        m_changed.wait(guard, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_tasks.empty()) {
            return;
        }
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        guard.unlock();
        task();
        guard.lock();
    }
}
