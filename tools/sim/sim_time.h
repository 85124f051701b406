#pragma once
// Time and logging types of the test bus. Times are CLOCK_MONOTONIC nanoseconds, so that the
// engine can be driven with made-up times in tests and with the real clock in the program.

#include <cstdint>
#include <functional>
#include <string>

using Nanos = std::int64_t;
constexpr Nanos kNanosPerMs = 1'000'000;
constexpr Nanos kNever = INT64_MAX;

constexpr Nanos Ms(std::int64_t ms) {
    return ms * kNanosPerMs;
}

Nanos MonotonicNow();

// One line per event, without a line end.
using LineSink = std::function<void(const std::string&)>;
