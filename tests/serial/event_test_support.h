#pragma once
// Common parts of the event-notification tests: the application's event loop, a count of the
// process's threads, and a port class that records what its event thread delivers.

#include "serial/serial_ex.h"
#include "tests/serial/serial_test_support.h"

#include <QCoreApplication>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace serialtest {

QCoreApplication& App();

// Runs the event loop until done() holds or timeoutMs passed; returns done().
template <typename Done> bool RunUntil(Done done, int timeoutMs = 5000) {
    App();
    const auto start = std::chrono::steady_clock::now();
    while (!done() && MillisecondsSince(start) < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Runs the event loop for ms, for checks that something does not happen.
inline void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

// Threads of this process, from /proc/self/task.
int ThreadCount();

// The thread count once threads that ended a moment ago have left /proc.
int SettledThreadCount();

// Waits until the process has `count` threads; returns whether it came to that.
bool WaitForThreadCount(int count, int timeoutMs = 5000);

struct Delivery {
    std::uint32_t events;
    std::uint32_t errors;
};

// A CSerialEx whose deliveries are recorded, for tests that look at the event thread alone.
class RecordingPort : public CSerialEx {
public:
    ~RecordingPort() override { Close(); } // before this part of the object goes

    std::vector<Delivery> Deliveries() {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }
    std::size_t DeliveryCount() {
        std::lock_guard lock(mutex_);
        return deliveries_.size();
    }
    // Set by a test; a delivery made while it is set is a fault.
    std::atomic<bool> forbidden{false};
    std::atomic<bool> deliveredWhileForbidden{false};

protected:
    bool DeliverEvent(std::uint32_t events, std::uint32_t errors) override {
        if (forbidden.load()) {
            deliveredWhileForbidden = true;
        }
        std::lock_guard lock(mutex_);
        deliveries_.push_back({events, errors});
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<Delivery> deliveries_;
};

} // namespace serialtest
