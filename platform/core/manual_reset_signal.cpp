#include "platform/core/manual_reset_signal.h"

#include <chrono>

namespace platform {

void ManualResetSignal::Set() {
    // Notified under the lock: a waiter that returns may destroy the signal at once, which must
    // not happen while this call still touches it.
    std::lock_guard lock(mutex_);
    set_ = true;
    changed_.notify_all();
}

void ManualResetSignal::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool ManualResetSignal::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

WaitResult ManualResetSignal::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (timeoutMs == WaitForever) {
        changed_.wait(lock, [this] { return set_; });
        return WaitSignalled;
    }
    const auto limit = std::chrono::milliseconds(timeoutMs);
    return changed_.wait_for(lock, limit, [this] { return set_; }) ? WaitSignalled : WaitTimedOut;
}

} // namespace platform
