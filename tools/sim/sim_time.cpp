#include "tools/sim/sim_time.h"

#include <time.h>

Nanos MonotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}
