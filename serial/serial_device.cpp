#include "serial/serial_device.h"

#include "serial/network_link.h"
#include "serial/port_names.h"
#include "serial/serial.h"
#include "serial/serial_device_internal.h"
#include "serial/terminal_link.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace serial {

std::int32_t SerialDevice::Open(const char* name, std::shared_ptr<SerialDevice>& device,
                                int& systemError) {
    systemError = 0;
    const std::optional<std::string> path = ResolvePortName(name);
    if (!path) {
        systemError = ENOENT;
        return SerialErrFileNotFound;
    }
    std::unique_ptr<PortLink> link;
    const std::optional<std::string> url = NetworkPortUrl(*path);
    if (int error =
            url ? NetworkLink::Open(*ParsePortUrl(*url), link) : TerminalLink::Open(*path, link)) {
        systemError = error;
        return SerialErrorFromErrno(error);
    }
    auto opened = std::make_shared<SerialDevice>(std::move(link));
    if (std::int32_t result = opened->Init()) {
        systemError = result & ~SerialErrnoBase;
        return result; // the destructor releases what Init acquired
    }
    device = std::move(opened);
    return SerialOk;
}

SerialDevice::SerialDevice(std::unique_ptr<PortLink> link) : link_(std::move(link)) {}

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
    port.data.fd = link_->Descriptor();
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wake_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, link_->Descriptor(), &port) != 0 ||
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake) != 0) {
        return SerialErrorFromErrno(errno);
    }
    int error = 0;
    countsSupported_ = link_->ReadCounts(eventCounts_, error);
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
    link_->Release(lostError_ != 0);
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
    if (int error = link_->ReadSettings(settings)) {
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
    if (int error = link_->WriteSettings(settings)) {
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
