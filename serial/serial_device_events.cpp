// Line errors and modem-line changes of SerialDevice, from the driver's counters.

#include "serial/serial.h"
#include "serial/serial_device.h"
#include "serial/serial_device_internal.h"

namespace serial {
namespace {

constexpr std::uint32_t ModemEvents = EvCts | EvDsr | EvRlsd | EvRing;

bool Grew(int now, int before) {
    return now != before;
}

} // namespace

std::uint32_t SerialDevice::CountedEvents() {
    serial_icounter_struct now{};
    int error = 0;
    if (!countsSupported_ || Unusable() != SerialOk) {
        return 0;
    }
    if (!link_->ReadCounts(now, error)) {
        MarkLost(error);
        return 0;
    }
    const serial_icounter_struct& before = eventCounts_;
    std::uint32_t events = 0;
    events |= Grew(now.brk, before.brk) ? EvBreak : 0;
    events |= Grew(now.frame, before.frame) || Grew(now.overrun, before.overrun) ||
                      Grew(now.parity, before.parity) || Grew(now.buf_overrun, before.buf_overrun)
                  ? EvError
                  : 0;
    events |= Grew(now.cts, before.cts) ? EvCts : 0;
    events |= Grew(now.dsr, before.dsr) ? EvDsr : 0;
    events |= Grew(now.dcd, before.dcd) ? EvRlsd : 0;
    events |= Grew(now.rng, before.rng) ? EvRing : 0;
    eventCounts_ = now;
    return events;
}

std::int32_t SerialDevice::FetchLineErrors(std::uint32_t& flags) {
    std::lock_guard lock(mutex_);
    flags = 0;
    if (std::int32_t error = Unusable()) {
        return error;
    }
    flags = injectedErrors_;
    injectedErrors_ = 0;
    if (!countsSupported_) {
        return SerialOk;
    }
    serial_icounter_struct now{};
    int error = 0;
    if (!link_->ReadCounts(now, error)) {
        MarkLost(error);
        return SerialErrorFromErrno(error);
    }
    const serial_icounter_struct& before = errorCounts_;
    flags |= Grew(now.buf_overrun, before.buf_overrun) ? LineErrRxOverflow : 0;
    flags |= Grew(now.overrun, before.overrun) ? LineErrOverrun : 0;
    flags |= Grew(now.parity, before.parity) ? LineErrParity : 0;
    flags |= Grew(now.frame, before.frame) ? LineErrFrame : 0;
    flags |= Grew(now.brk, before.brk) ? LineErrBreak : 0;
    errorCounts_ = now;
    return SerialOk;
}

void SerialDevice::InjectLineErrors(std::uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (Unusable() != SerialOk) {
        return;
    }
    injectedErrors_ |= flags;
    constexpr std::uint32_t statusErrors =
        LineErrRxOverflow | LineErrOverrun | LineErrParity | LineErrFrame;
    RaiseEvents(((flags & LineErrBreak) != 0 ? EvBreak : 0) |
                ((flags & statusErrors) != 0 ? EvError : 0));
}

bool SerialDevice::NeedsCounterPolling() const {
    if (!countsSupported_ || lostError_ != 0 || (mask_ & ModemEvents) == 0) {
        return false;
    }
    for (const Operation& operation : pending_) {
        if (operation.kind == Operation::Kind::Wait) {
            return true;
        }
    }
    return false;
}

} // namespace serial
