#include "loader/precise_delay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

constexpr int64_t kMs = 1'000'000;

TEST(PreciseDelay, NeverReturnsEarly) {
    for (int ms : {1, 2, 5, 8}) {
        for (int i = 0; i < 20; ++i) {
            const int64_t start = MonotonicNowNs();
            PreciseDelayMs(ms);
            EXPECT_GE(MonotonicNowNs() - start, ms * kMs) << ms << " ms";
        }
    }
}

TEST(PreciseDelay, ZeroOrLessReturnsAtOnce) {
    const int64_t start = MonotonicNowNs();
    PreciseDelayMs(0);
    PreciseDelayMs(-5);
    EXPECT_LT(MonotonicNowNs() - start, 50 * kMs);
}

TEST(PreciseDelay, SignalsDoNotShortenTheDelay) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, nullptr); // no SA_RESTART: the sleep sees EINTR
    const pthread_t target = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        while (!done) {
            pthread_kill(target, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const int64_t start = MonotonicNowNs();
    PreciseDelayMs(40);
    const int64_t elapsed = MonotonicNowNs() - start;
    done = true;
    signaller.join();
    EXPECT_GE(elapsed, 40 * kMs);
}

} // namespace
