#include "serial/serial_device.h"

#include "serial/exclusive_open.h"
#include "serial/port_lock.h"
#include "serial/port_names.h"
#include "serial/serial.h"
#include "serial/serial_device_internal.h"

#include <cerrno>
#include <chrono>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace serial {
namespace {

// How long Close lets queued bytes go out before it discards them, well inside its 100 ms.
constexpr int CloseDrainMs = 50;

} // namespace

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
        DiscardQueuedOutput(fd_);
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

} // namespace serial
