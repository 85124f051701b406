#pragma once
// Runs tasks one after another on a thread of its own, so that the thread that queues them waits
// for none of them. The thread starts with the first task.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CRequestThread {
public:
    CRequestThread() = default;
    // Stop().
    ~CRequestThread();
    CRequestThread(const CRequestThread&) = delete;
    CRequestThread& operator=(const CRequestThread&) = delete;

    // Runs `task` after the ones queued before it. Ignored once stopped.
    void Queue(std::function<void()> task);
    // Runs what is queued, then ends the thread; later tasks are ignored.
    void Stop();

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};
