#include "serial/serial_device.h"

#include "serial/port_names.h"
#include "serial/serial.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace serial {
namespace {

constexpr std::uint32_t ModemEvents = EvCts | EvDsr | EvRlsd | EvRing;
// How often the modem-line counters are read while a wait for modem events is pending; the
// kernel has no readiness notification for them.
constexpr int CounterPollMs = 50;

// The device has gone (a pulled adapter, a closed pseudo-terminal master).
bool IsDeviceGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

bool ReadCounts(int fd, serial_icounter_struct& counts, int& error) {
    if (ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        return true;
    }
    error = errno;
    return false;
}

bool Grew(int now, int before) {
    return now != before;
}

} // namespace

int OpenExclusive(const char* path, int& fd) {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // flock also keeps out root, whom TIOCEXCL lets through.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        fd = -1;
        return error;
    }
    return 0;
}

void CloseExclusive(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

struct SerialDevice::Operation {
    enum class Kind { Read, Write, Wait } kind;
    CompletionRecord* record = nullptr;
    platform::ManualResetSignal* signal = nullptr;
    std::uint8_t* buffer = nullptr;
    std::uint32_t size = 0;
    std::uint32_t done = 0;
    bool readWhole = false;
    std::atomic<std::uint32_t>* events = nullptr;
    std::thread::id starter = std::this_thread::get_id();
};

std::int32_t SerialDevice::Open(const char* name, std::shared_ptr<SerialDevice>& device) {
    const std::optional<std::string> path = ResolvePortName(name);
    if (!path) {
        return SerialErrFileNotFound;
    }
    int fd = -1;
    if (int error = OpenExclusive(path->c_str(), fd)) {
        return SerialErrorFromErrno(error);
    }
    if (int error = MakeRaw(fd)) {
        CloseExclusive(fd);
        return SerialErrorFromErrno(error);
    }
    auto opened = std::make_shared<SerialDevice>(fd);
    if (std::int32_t result = opened->Init()) {
        return result; // the destructor releases what Init acquired
    }
    device = std::move(opened);
    return SerialOk;
}

SerialDevice::SerialDevice(int fd) : fd_(fd) {}

SerialDevice::~SerialDevice() {
    Shutdown();
}

std::int32_t SerialDevice::Init() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wake_ < 0) {
        return SerialErrorFromErrno(errno);
    }
    // Edge-triggered: new input is an event once, however long it stays unread.
    epoll_event port{};
    port.events = EPOLLIN | EPOLLOUT | EPOLLET;
    port.data.fd = fd_;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wake_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &port) != 0 ||
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake) != 0) {
        return SerialErrorFromErrno(errno);
    }
    // UARTs count line errors and modem-line changes; pseudo-terminals answer ENOTTY or EINVAL.
    int error = 0;
    countsSupported_ = ReadCounts(fd_, eventCounts_, error);
    errorCounts_ = eventCounts_;
    try {
        service_ = std::thread([this] { ServiceLoop(); });
    } catch (const std::system_error& failure) {
        return SerialErrorFromErrno(failure.code().value());
    }
    return SerialOk;
}

void SerialDevice::Shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_) {
            return;
        }
        shutDown_ = true;
        for (Operation& operation : pending_) {
            Complete(operation, SerialErrorFromErrno(ECANCELED));
        }
        pending_.clear();
        Wake();
    }
    if (service_.joinable()) {
        service_.join();
    }
    std::lock_guard lock(mutex_);
    for (int* fd : {&wake_, &epoll_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    CloseExclusive(fd_);
    fd_ = -1;
}

std::int32_t SerialDevice::Unusable() const {
    if (shutDown_) {
        return SerialErrNotOpen;
    }
    return lostError_ != 0 ? SerialErrorFromErrno(lostError_) : SerialOk;
}

std::int32_t SerialDevice::GetSettings(LineSettings& settings) {
    std::lock_guard lock(mutex_);
    if (std::int32_t error = Unusable()) {
        return error;
    }
    settings = kept_;
    if (int error = ReadTermios(fd_, settings)) {
        MarkLost(error);
        return SerialErrorFromErrno(error);
    }
    return SerialOk;
}

std::int32_t SerialDevice::SetSettings(const LineSettings& settings) {
    std::lock_guard lock(mutex_);
    if (std::int32_t error = Unusable()) {
        return error;
    }
    int error = WriteTermios(fd_, settings);
    if (error == 0) {
        error = SetModemLines(fd_, settings.dtrControl != 0, settings.rtsControl != 0);
    }
    if (error != 0) {
        MarkLost(error);
        return SerialErrorFromErrno(error);
    }
    kept_ = settings;
    return SerialOk;
}

std::int32_t SerialDevice::GetReadTimeouts(ReadTimeouts& timeouts) {
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return Unusable();
}

std::int32_t SerialDevice::SetReadTimeouts(const ReadTimeouts& timeouts) {
    std::lock_guard lock(mutex_);
    if (std::int32_t error = Unusable()) {
        return error;
    }
    timeouts_ = timeouts;
    return SerialOk;
}

std::int32_t SerialDevice::SetMask(std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    if (std::int32_t error = Unusable()) {
        return error;
    }
    mask_ = mask;
    history_ = 0;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->kind == Operation::Kind::Wait) {
            it->events->store(0);
            Complete(*it, SerialOk);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    Wake(); // the service thread rechecks whether it must poll the counters
    return SerialOk;
}

std::int32_t SerialDevice::StartRead(CompletionRecord& record, void* buffer, std::uint32_t size) {
    Operation operation{.kind = Operation::Kind::Read, .record = &record};
    operation.buffer = static_cast<std::uint8_t*>(buffer);
    operation.size = size;
    return Start(operation);
}

std::int32_t SerialDevice::StartWrite(CompletionRecord& record, const void* data,
                                      std::uint32_t size) {
    Operation operation{.kind = Operation::Kind::Write, .record = &record};
    // Only read from: write() takes the bytes from here.
    operation.buffer = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(data));
    operation.size = size;
    return Start(operation);
}

std::int32_t SerialDevice::StartWait(CompletionRecord& record, std::atomic<std::uint32_t>& events) {
    Operation operation{.kind = Operation::Kind::Wait, .record = &record};
    operation.events = &events;
    return Start(operation);
}

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
    while (operation.done < operation.size) {
        std::uint8_t* at = operation.buffer + operation.done;
        const std::size_t left = operation.size - operation.done;
        const ssize_t moved = reading ? read(fd_, at, left) : write(fd_, at, left);
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
    Complete(operation, SerialOk);
    return Progress::Finished;
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
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd_, nullptr);
    for (Operation& operation : pending_) {
        Complete(operation, SerialErrorFromErrno(error));
    }
    pending_.clear();
}

bool SerialDevice::CancelThreadOperations(const CompletionRecord& watched) {
    std::lock_guard lock(mutex_);
    const std::thread::id caller = std::this_thread::get_id();
    bool watchedCancelled = false;
    bool writeCancelled = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->starter != caller) {
            ++it;
            continue;
        }
        watchedCancelled |= it->record == &watched;
        writeCancelled |= it->kind == Operation::Kind::Write;
        Complete(*it, SerialErrorFromErrno(ECANCELED));
        it = pending_.erase(it);
    }
    if (writeCancelled && Unusable() == SerialOk) {
        DiscardOutput(fd_);
    }
    return watchedCancelled;
}

std::uint32_t SerialDevice::CountedEvents() {
    serial_icounter_struct now{};
    int error = 0;
    if (!countsSupported_ || Unusable() != SerialOk) {
        return 0;
    }
    if (!ReadCounts(fd_, now, error)) {
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
    if (!ReadCounts(fd_, now, error)) {
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

// Whether bytes have arrived since the input queue was last looked at. The device is reported
// readable on every wake-up while unread bytes wait (any readiness change reports all of them),
// so readability alone would repeat the received-data event for the same bytes.
bool SerialDevice::TakeNewInput() {
    int queued = 0;
    if (ioctl(fd_, TIOCINQ, &queued) != 0) {
        return true; // cannot tell: report it, a read finds out
    }
    const bool grew = queued > inputSeen_;
    inputSeen_ = queued;
    return grew;
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
        if (hangUp) {
            MarkLost(EIO);
            continue;
        }
        const std::uint32_t events = (input && TakeNewInput() ? EvRxChar : 0) | CountedEvents();
        for (auto it = pending_.begin(); it != pending_.end();) {
            const Progress progress =
                it->kind == Operation::Kind::Wait ? Progress::Pending : Advance(*it);
            if (progress == Progress::Pending) {
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
