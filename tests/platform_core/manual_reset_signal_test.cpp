// The manual-reset signal between threads.
#include "platform/core/manual_reset_signal.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using platform::ManualResetSignal;

TEST(ManualResetSignal, StartsUnsetAndTimesOut) {
    ManualResetSignal signal;
    EXPECT_FALSE(signal.IsSet());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(signal.Wait(30), platform::WaitTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(signal.Wait(0), platform::WaitTimedOut);
}

TEST(ManualResetSignal, StaysSetForEveryWaiterUntilReset) {
    ManualResetSignal signal;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (signal.Wait(platform::WaitForever) == platform::WaitSignalled) {
                ++woken;
            }
        });
    }
    signal.Set();
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(signal.IsSet());
    EXPECT_EQ(signal.Wait(0), platform::WaitSignalled); // still set: manual reset
    signal.Reset();
    EXPECT_FALSE(signal.IsSet());
    EXPECT_EQ(signal.Wait(10), platform::WaitTimedOut);
}

TEST(ManualResetSignal, WaiterMayDestroyTheSignalAsSoonAsItWakes) {
    // The setter must be done with the signal when the waiter returns; run under a sanitizer
    // this catches a notify after the lock has been released.
    for (int round = 0; round < 200; ++round) {
        auto signal = std::make_unique<ManualResetSignal>();
        std::thread setter([raw = signal.get()] { raw->Set(); });
        EXPECT_EQ(signal->Wait(platform::WaitForever), platform::WaitSignalled);
        signal.reset();
        setter.join();
    }
}
