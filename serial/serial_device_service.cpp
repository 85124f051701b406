// The service thread of SerialDevice and the transfers and event waits that it carries.

#include "serial/serial.h"
#include "serial/serial_device.h"
#include "serial/serial_device_internal.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace serial {
namespace {

// How often the modem-line counters are read while a wait for modem events is pending; the
// kernel has no readiness notification for them.
constexpr int CounterPollMs = 50;
// A write is complete when its bytes have left the driver's queue; there is no notification for
// that either, so the queue is looked at about as often as it can empty.
constexpr int DrainPollMaxMs = 20;
// Received bytes held ahead of the reader while the event character is watched.
constexpr std::size_t HeldInputLimit = 65536;

} // namespace

std::int32_t SerialDevice::Start(Operation operation) {
    operation.signal = operation.record->signal;
    operation.record->count.store(0);
    operation.record->status.store(SerialErrIoPending);
    if (operation.signal != nullptr) {
        operation.signal->Reset();
    }
    std::lock_guard lock(mutex_);
    if (std::int32_t error = Unusable()) {
        operation.record->status.store(error);
        return error;
    }
    if (operation.kind == Operation::Kind::Read) {
        const bool immediate = timeouts_.interval == 0xFFFFFFFF && timeouts_.totalPerByte == 0 &&
                               timeouts_.totalConstant == 0;
        operation.readWhole = !immediate;
    }
    if (operation.kind == Operation::Kind::Wait) {
        if ((history_ & mask_) != 0) {
            operation.events->store(history_ & mask_);
            history_ = 0;
            Complete(operation, SerialOk);
            return SerialOk;
        }
    } else if (operation.kind == Operation::Kind::Write && HasPendingWrite()) {
        // Behind the writes under way, so that only the first has bytes in the driver's queue
        // and a time-out discards nothing of another write.
    } else if (Progress progress = Advance(operation); progress != Progress::Pending) {
        if (progress == Progress::DeviceGone) {
            MarkLost(EIO);
        }
        return operation.record->status.load();
    }
    pending_.push_back(operation);
    Wake();
    return SerialErrIoPending;
}

// Moves a transfer on as far as the device allows without blocking.
SerialDevice::Progress SerialDevice::Advance(Operation& operation) {
    const bool reading = operation.kind == Operation::Kind::Read;
    if (reading && !held_.empty()) {
        const std::size_t taken =
            std::min<std::size_t>(held_.size(), operation.size - operation.done);
        std::copy_n(held_.begin(), taken, operation.buffer + operation.done);
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(taken));
        operation.done += static_cast<std::uint32_t>(taken);
    }
    while (operation.done < operation.size) {
        std::uint8_t* at = operation.buffer + operation.done;
        const std::size_t left = operation.size - operation.done;
        const ssize_t moved = reading ? link_->Read(at, left) : link_->Write(at, left);
        if (moved > 0) {
            operation.done += static_cast<std::uint32_t>(moved);
            if (reading) {
                inputSeen_ = moved >= inputSeen_ ? 0 : inputSeen_ - static_cast<int>(moved);
            }
            if (reading && !operation.readWhole) {
                break;
            }
            continue;
        }
        int error = errno;
        if (moved == 0) {
            // With VMIN 1 and O_NONBLOCK an empty queue gives EAGAIN, so 0 bytes means that the
            // device has hung up. Reading again would spin.
            error = EIO;
        } else if (error == EINTR) {
            continue;
        } else if (error == EAGAIN) {
            if (reading && !operation.readWhole) {
                break;
            }
            return Progress::Pending;
        }
        Complete(operation, SerialErrorFromErrno(error));
        return IsDeviceGone(error) ? Progress::DeviceGone : Progress::Finished;
    }
    if (!reading) {
        // Done only when the bytes have left the queue: until then a time-out may still
        // discard them, and the caller must not have been told that they went.
        if (link_->QueuedOutput() > 0) {
            return Progress::Pending;
        }
        Complete(operation, SerialOk);
        RaiseEvents(EvTxEmpty);
        return Progress::Finished;
    }
    Complete(operation, SerialOk);
    return Progress::Finished;
}

bool SerialDevice::HasPendingWrite() const {
    return std::any_of(pending_.begin(), pending_.end(), [](const Operation& operation) {
        return operation.kind == Operation::Kind::Write;
    });
}

// How long until the next look at a draining write's queue; -1 when no write drains.
int SerialDevice::DrainPollMs() const {
    for (const Operation& operation : pending_) {
        if (operation.kind != Operation::Kind::Write) {
            continue;
        }
        if (operation.done < operation.size) {
            return -1; // still writing: the device reports room for more
        }
        const int queued = link_->QueuedOutput();
        if (kept_.bitRate == 0) {
            return 1;
        }
        // About ten bit times per byte.
        const long long ms = static_cast<long long>(queued) * 10000 / kept_.bitRate;
        return static_cast<int>(std::clamp<long long>(ms, 1, DrainPollMaxMs));
    }
    return -1;
}

void SerialDevice::Complete(Operation& operation, std::int32_t status) {
    operation.record->count.store(operation.kind == Operation::Kind::Wait ? 0 : operation.done);
    operation.record->status.store(status);
    if (operation.signal != nullptr) {
        operation.signal->Set();
    }
}

void SerialDevice::RaiseEvents(std::uint32_t events) {
    events &= mask_;
    if (events == 0) {
        return;
    }
    bool delivered = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->kind == Operation::Kind::Wait) {
            it->events->store(events);
            Complete(*it, SerialOk);
            it = pending_.erase(it);
            delivered = true;
        } else {
            ++it;
        }
    }
    if (!delivered) {
        history_ |= events;
    }
}

// The device is gone: every pending and later operation fails, and it is no longer polled.
void SerialDevice::MarkLost(int error) {
    if (!IsDeviceGone(error) || lostError_ != 0) {
        return;
    }
    lostError_ = error;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, link_->Descriptor(), nullptr);
    for (Operation& operation : pending_) {
        Complete(operation, SerialErrorFromErrno(error));
    }
    pending_.clear();
}

bool SerialDevice::CancelThreadOperations(const CompletionRecord& watched) {
    std::lock_guard lock(mutex_);
    const std::thread::id caller = std::this_thread::get_id();
    bool watchedCancelled = false;
    bool firstWriteCancelled = false;
    bool firstWrite = true;
    for (auto it = pending_.begin(); it != pending_.end();) {
        const bool isWrite = it->kind == Operation::Kind::Write;
        if (it->starter != caller) {
            firstWrite &= !isWrite;
            ++it;
            continue;
        }
        watchedCancelled |= it->record == &watched;
        firstWriteCancelled |= isWrite && firstWrite && it->done > 0;
        firstWrite &= !isWrite;
        Complete(*it, SerialErrorFromErrno(ECANCELED));
        it = pending_.erase(it);
    }
    // Only the first pending write has bytes in the queue: what is left of it goes, and nothing
    // of the writes that completed before it.
    if (firstWriteCancelled && Unusable() == SerialOk && link_->QueuedOutput() > 0) {
        link_->DiscardOutput();
    }
    Wake(); // a write that waited behind the cancelled one may start
    return watchedCancelled;
}

// Whether bytes have arrived since the input queue was last looked at. The device is reported
// readable on every wake-up while unread bytes wait (any readiness change reports all of them),
// so readability alone would repeat the received-data event for the same bytes.
std::uint32_t SerialDevice::TakeNewInput() {
    const int queued = link_->QueuedInput();
    if (queued < 0) {
        return EvRxChar; // cannot tell: report it, a read finds out
    }
    const bool grew = queued > inputSeen_;
    inputSeen_ = queued;
    if (!grew) {
        return 0;
    }
    if ((mask_ & EvRxFlag) == 0) {
        return EvRxChar;
    }
    // The event character can only be seen in the bytes themselves: read them ahead of the
    // reader, who gets them first.
    bool flagged = false;
    std::uint8_t chunk[4096];
    while (held_.size() < HeldInputLimit) {
        const ssize_t got =
            link_->Read(chunk, std::min(sizeof chunk, HeldInputLimit - held_.size()));
        if (got <= 0) {
            break; // empty (EAGAIN); a hang-up is found by the next wait
        }
        flagged |= std::find(chunk, chunk + got, kept_.eventChar) != chunk + got;
        held_.insert(held_.end(), chunk, chunk + got);
    }
    inputSeen_ = std::max(link_->QueuedInput(), 0);
    return EvRxChar | (flagged ? EvRxFlag : 0);
}

void SerialDevice::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
}

void SerialDevice::ServiceLoop() {
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex_);
            if (shutDown_) {
                return;
            }
            timeout = NeedsCounterPolling() ? CounterPollMs : -1;
            for (const int due : {DrainPollMs(), link_->ServiceDueMs()}) {
                if (due >= 0 && (timeout < 0 || due < timeout)) {
                    timeout = due;
                }
            }
        }
        epoll_event ready[2];
        const int count = epoll_wait(epoll_, ready, 2, timeout);
        const int waitError = errno;
        std::lock_guard lock(mutex_);
        if (shutDown_) {
            return;
        }
        if (count < 0) {
            if (waitError == EINTR) {
                continue;
            }
            MarkLost(EIO); // cannot wait any more: fail what is pending rather than hang it
            return;
        }
        bool input = false;
        bool hangUp = false;
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.fd == wake_) {
                std::uint64_t drained = 0;
                [[maybe_unused]] ssize_t ignored = read(wake_, &drained, sizeof drained);
                continue;
            }
            input |= (ready[i].events & EPOLLIN) != 0;
            hangUp |= (ready[i].events & (EPOLLHUP | EPOLLERR)) != 0;
        }
        if (lostError_ != 0) {
            continue;
        }
        std::uint32_t linkEvents = 0;
        std::uint32_t linkErrors = 0;
        if (hangUp || link_->Service(linkEvents, linkErrors) != 0) {
            MarkLost(EIO);
            continue;
        }
        // A link that takes its input in itself (a network connection) says when some came.
        input |= (linkEvents & EvRxChar) != 0;
        injectedErrors_ |= linkErrors;
        const std::uint32_t events =
            (input ? TakeNewInput() : 0) | CountedEvents() | (linkEvents & ~EvRxChar);
        bool writeAhead = false; // a write under way: the later ones wait for it
        for (auto it = pending_.begin(); it != pending_.end();) {
            const bool isWrite = it->kind == Operation::Kind::Write;
            const Progress progress = it->kind == Operation::Kind::Wait || (isWrite && writeAhead)
                                          ? Progress::Pending
                                          : Advance(*it);
            if (progress == Progress::Pending) {
                writeAhead |= isWrite;
                ++it;
                continue;
            }
            it = pending_.erase(it);
            if (progress == Progress::DeviceGone) {
                MarkLost(EIO);
                break;
            }
        }
        if (lostError_ == 0) {
            RaiseEvents(events);
        }
    }
}

} // namespace serial
