#include "serial/serial_device.h"

#include "serial/port_lock.h"
#include "serial/port_names.h"
#include "serial/serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace serial {
namespace {

constexpr std::uint32_t ModemEvents = EvCts | EvDsr | EvRlsd | EvRing;
// How often the modem-line counters are read while a wait for modem events is pending; the
// kernel has no readiness notification for them.
constexpr int CounterPollMs = 50;
// A write is complete when its bytes have left the driver's queue; there is no notification for
// that either, so the queue is looked at about as often as it can empty.
constexpr int DrainPollMaxMs = 20;
// How long Close lets queued bytes go out before it discards them, well inside its 100 ms.
constexpr int CloseDrainMs = 50;
// Received bytes held ahead of the reader while the event character is watched.
constexpr std::size_t HeldInputLimit = 65536;

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

// Bytes written but not yet sent; 0 where the driver cannot tell (a pseudo-terminal passes
// every byte on at once).
int QueuedOutput(int fd) {
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

// The device behind a path, links followed, for the lock file's name.
std::string RealDevicePath(const char* path) {
    char* real = realpath(path, nullptr);
    if (real == nullptr) {
        return path;
    }
    std::string result = real;
    std::free(real);
    return result;
}

} // namespace

int OpenExclusive(const char* path, int& fd) {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // flock also keeps out root, whom TIOCEXCL lets through.
    int error = 0;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
    } else {
        // Programs that use neither: a plain open(2) elsewhere, or a UUCP lock file.
        struct stat device {};
        if (fstat(fd, &device) == 0) {
            error = CheckOtherOpeners(device.st_rdev);
        }
        if (error == 0) {
            error = CheckLockFile(RealDevicePath(path));
        }
    }
    if (error != 0) {
        close(fd);
        fd = -1;
    }
    return error;
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

std::int32_t SerialDevice::Open(const char* name, std::shared_ptr<SerialDevice>& device,
                                int& systemError) {
    systemError = 0;
    const std::optional<std::string> path = ResolvePortName(name);
    if (!path) {
        systemError = ENOENT;
        return SerialErrFileNotFound;
    }
    int fd = -1;
    if (int error = OpenExclusive(path->c_str(), fd)) {
        systemError = error;
        return SerialErrorFromErrno(error);
    }
    if (int error = MakeRaw(fd)) {
        CloseExclusive(fd);
        systemError = error;
        return SerialErrorFromErrno(error);
    }
    const std::string devicePath = RealDevicePath(path->c_str());
    bool locked = false;
    if (int error = TakeLockFile(devicePath, locked)) {
        CloseExclusive(fd);
        systemError = error;
        return SerialErrorFromErrno(error);
    }
    auto opened = std::make_shared<SerialDevice>(fd);
    if (locked) {
        opened->lockedPath_ = devicePath;
    }
    opened->AskForLowLatency();
    if (std::int32_t result = opened->Init()) {
        systemError = result & ~SerialErrnoBase;
        return result; // the destructor releases what Init acquired
    }
    device = std::move(opened);
    return SerialOk;
}

// USB adapters hold received bytes for up to their latency timer (16 ms on many) unless asked
// for low latency. Drivers and pseudo-terminals that refuse are left as they are.
void SerialDevice::AskForLowLatency() {
    serial_struct current{};
    if (ioctl(fd_, TIOCGSERIAL, &current) != 0 || (current.flags & ASYNC_LOW_LATENCY) != 0) {
        return;
    }
    serial_struct wanted = current;
    wanted.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd_, TIOCSSERIAL, &wanted) == 0) {
        savedSerial_ = current;
        lowLatencySet_ = true;
    }
}

// Close must not wait for the driver's closing wait (30 s at worst): what has not gone out
// soon is discarded.
void SerialDevice::LetOutputGo() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CloseDrainMs);
    while (QueuedOutput(fd_) > 0 && std::chrono::steady_clock::now() < deadline) {
        usleep(2000);
    }
    if (QueuedOutput(fd_) > 0) {
        DiscardOutput(fd_);
    }
    if (lowLatencySet_) {
        ioctl(fd_, TIOCSSERIAL, &savedSerial_);
        lowLatencySet_ = false;
    }
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
    if (lostError_ == 0) {
        LetOutputGo();
    }
    CloseExclusive(fd_);
    fd_ = -1;
    if (!lockedPath_.empty()) {
        ReleaseLockFile(lockedPath_);
        lockedPath_.clear();
    }
    held_.clear();
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
    if (!reading) {
        // Done only when the bytes have left the queue: until then a time-out may still
        // discard them, and the caller must not have been told that they went.
        if (QueuedOutput(fd_) > 0) {
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
        const int queued = QueuedOutput(fd_);
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
    if (firstWriteCancelled && Unusable() == SerialOk && QueuedOutput(fd_) > 0) {
        DiscardOutput(fd_);
    }
    Wake(); // a write that waited behind the cancelled one may start
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
std::uint32_t SerialDevice::TakeNewInput() {
    int queued = 0;
    if (ioctl(fd_, TIOCINQ, &queued) != 0) {
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
        const ssize_t got = read(fd_, chunk, std::min(sizeof chunk, HeldInputLimit - held_.size()));
        if (got <= 0) {
            break; // empty (EAGAIN); a hang-up is found by the next wait
        }
        flagged |= std::find(chunk, chunk + got, kept_.eventChar) != chunk + got;
        held_.insert(held_.end(), chunk, chunk + got);
    }
    int left = 0;
    inputSeen_ = ioctl(fd_, TIOCINQ, &left) == 0 ? left : 0;
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
            const int drain = DrainPollMs();
            if (drain >= 0 && (timeout < 0 || drain < timeout)) {
                timeout = drain;
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
        if (hangUp) {
            MarkLost(EIO);
            continue;
        }
        const std::uint32_t events = (input ? TakeNewInput() : 0) | CountedEvents();
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
