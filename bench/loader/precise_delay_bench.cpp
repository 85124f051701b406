// Measures how late PreciseDelayMs returns and how much CPU each call costs,
// with the other core idle and with it kept busy. Prints one line per case.
//
//   precise_delay_bench [--quick]

#include "loader/precise_delay.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

int64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Result {
    double p50Us, p99Us, maxUs, minUs, cpuUsPerCall;
};

// `finalSpinNs` < 0 measures PreciseDelayMs itself; otherwise the raw sleep
// with that final spin.
Result Measure(int ms, int calls, int64_t finalSpinNs) {
    std::vector<int64_t> overshoot;
    overshoot.reserve(static_cast<size_t>(calls));
    UseFineTimerSlack();
    const int64_t cpuStart = ThreadCpuNs();
    for (int i = 0; i < calls; ++i) {
        const int64_t start = MonotonicNowNs();
        if (finalSpinNs < 0) {
            PreciseDelayMs(ms);
        } else {
            SleepUntilMonotonicNs(start + ms * 1'000'000LL, finalSpinNs);
        }
        overshoot.push_back(MonotonicNowNs() - start - ms * 1'000'000LL);
    }
    const int64_t cpu = ThreadCpuNs() - cpuStart;
    std::sort(overshoot.begin(), overshoot.end());
    auto at = [&](double q) {
        return overshoot[std::min(overshoot.size() - 1,
                                  static_cast<size_t>(q * overshoot.size()))] /
               1000.0;
    };
    return {at(0.5), at(0.99), overshoot.back() / 1000.0, overshoot.front() / 1000.0,
            cpu / 1000.0 / calls};
}

// Keeps one other core busy with a tight loop for as long as it lives.
class BusyCore {
public:
    BusyCore()
        : m_thread([this] {
              volatile uint64_t n = 0;
              while (!m_stop.load(std::memory_order_relaxed)) {
                  n = n + 1;
              }
          }) {}
    ~BusyCore() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void RunCases(const char* load, bool quick) {
    const int delays[] = {1, 5, 8, 50};
    const int64_t spins[] = {-1, 20'000, 50'000};
    for (int ms : delays) {
        const int calls = std::max(20, (quick ? 300 : 2000) / ms);
        for (int64_t spin : spins) {
            const Result r = Measure(ms, calls, spin);
            char variant[32];
            if (spin < 0) {
                std::snprintf(variant, sizeof variant, "PreciseDelayMs");
            } else {
                std::snprintf(variant, sizeof variant, "sleep+spin %lldus",
                              static_cast<long long>(spin / 1000));
            }
            std::printf("%-10s %-18s %3d ms  n=%5d  overshoot us: min %7.1f p50 %7.1f p99 %8.1f "
                        "max %8.1f  cpu/call %6.1f us%s\n",
                        load, variant, ms, calls, r.minUs, r.p50Us, r.p99Us, r.maxUs,
                        r.cpuUsPerCall, r.minUs < 0 ? "  UNDERSHOOT" : "");
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    RunCases("idle", quick);
    {
        BusyCore busy;
        RunCases("busy", quick);
    }
    return 0;
}
