#include "loader/precise_delay.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kNsPerMs = 1'000'000;

// Sleeping alone wakes a median of well under 100 us late once the timer slack
// is 1 ns; spinning out the last stretch saves little and burns CPU on every
// call, so the download's pauses do not spin.
constexpr int64_t kFinalSpinNs = 0;

timespec ToTimespec(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return ts;
}

} // namespace

int64_t MonotonicNowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

void UseFineTimerSlack() {
    thread_local bool applied = false;
    if (!applied) {
        // A thread's slack defaults to 50 us, which every timed sleep may add.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        applied = true;
    }
}

void SleepUntilMonotonicNs(int64_t deadlineNs, int64_t finalSpinNs) {
    const int64_t wakeNs = finalSpinNs > 0 ? deadlineNs - finalSpinNs : deadlineNs;
    const timespec wake = ToTimespec(wakeNs);
    // An absolute deadline survives signals: the call is simply made again.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
    while (MonotonicNowNs() < deadlineNs) {
    }
}

void PreciseDelayMs(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    UseFineTimerSlack();
    const int64_t deadline = MonotonicNowNs() + static_cast<int64_t>(milliseconds) * kNsPerMs;
    SleepUntilMonotonicNs(deadline, kFinalSpinNs);
}
