#pragma once

#include <cstdint>

// Millisecond pauses for the firmware download that do not depend on the
// scheduler tick. The calling thread sleeps on the monotonic clock until an
// absolute deadline, so a pause is never shorter than asked, and its timer
// slack is cut to 1 ns so that the kernel wakes it close to that deadline.
// No thread priority is changed and no time slice is given away in a loop.

// Returns after at least `milliseconds` of monotonic time; a value of 0 or
// less returns at once.
void PreciseDelayMs(int milliseconds);

// Monotonic clock reading in nanoseconds.
int64_t MonotonicNowNs();

// Sleeps until the monotonic clock reads at least `deadlineNs`. When
// `finalSpinNs` is above 0 the last part before the deadline is spent reading
// the clock instead of sleeping.
void SleepUntilMonotonicNs(int64_t deadlineNs, int64_t finalSpinNs);

// Sets the calling thread's timer slack to 1 ns, once per thread.
void UseFineTimerSlack();
