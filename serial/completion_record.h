#pragma once
// The record of one asynchronous serial operation.
//
// A caller that passes its own record to CSerial::Read, Write or WaitForEvent sets `signal`
// (a manual-reset signal, not set) and keeps the record, its signal and the operation's buffer
// alive until the signal is set. Then `status` holds the outcome (0 or an error code) and `count`
// the bytes transferred; for an event wait the event bits go to the port's pending events.

#include "platform/core/manual_reset_signal.h"

#include <atomic>
#include <cstdint>

// Status of an operation that is still in progress.
inline constexpr std::int32_t SerialErrIoPending = 997;

struct CompletionRecord {
    platform::ManualResetSignal* signal = nullptr;
    std::atomic<std::int32_t> status{0};
    std::atomic<std::uint32_t> count{0};
};
