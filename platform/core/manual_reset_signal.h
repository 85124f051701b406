#pragma once
// A manual-reset signal: once set it stays set, waking every waiter, until it is reset.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// Results of ManualResetSignal::Wait.
enum WaitResult : std::uint32_t { WaitSignalled = 0, WaitTimedOut = 258 };

// Wait without a time limit.
inline constexpr std::uint32_t WaitForever = 0xFFFFFFFF;

class ManualResetSignal {
public:
    ManualResetSignal() = default;
    ManualResetSignal(const ManualResetSignal&) = delete;
    ManualResetSignal& operator=(const ManualResetSignal&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the signal is set or timeoutMs has passed (WaitForever: no limit).
    WaitResult Wait(std::uint32_t timeoutMs);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

} // namespace platform
