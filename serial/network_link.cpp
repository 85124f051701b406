#include "serial/network_link.h"

#include "serial/serial.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace serial {
namespace {

// Received data held for the reader; beyond it the server is held back by TCP itself until the
// reader has taken half of it.
constexpr std::size_t InputLimit = 65536;
// A connection whose sent bytes stay unacknowledged this long, or that stays silent this long
// after its keep-alive probes began, has dropped even if no reset came.
constexpr unsigned UserTimeoutMs = 5000;
constexpr int KeepIdleS = 2;
constexpr int KeepIntervalS = 1;
constexpr int KeepCount = 3;

void SetOption(int fd, int level, int name, int value) {
    setsockopt(fd, level, name, &value, sizeof value);
}

std::uint8_t ParityCode(std::uint8_t parity) {
    static constexpr std::uint8_t codes[] = {telnet::ParityNone, telnet::ParityOdd,
                                             telnet::ParityEven, telnet::ParityMark,
                                             telnet::ParitySpace};
    return codes[parity];
}

std::uint8_t StopCode(std::uint8_t stopBits) {
    static constexpr std::uint8_t codes[] = {telnet::StopOne, telnet::StopOneHalf, telnet::StopTwo};
    return codes[stopBits];
}

} // namespace

// A host name is resolved on a thread of its own, which may outlive the link: resolution cannot
// be cancelled, and a port that is closed must not wait for it.
struct NetworkLink::Resolution {
    std::mutex mutex;
    bool done = false;
    int error = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
    int ready = -1; // eventfd, readable when done

    ~Resolution() {
        if (ready >= 0) {
            close(ready);
        }
    }
};

NetworkLink::NetworkLink(const NetworkPort& where) : where_(where) {}

NetworkLink::~NetworkLink() {
    Release(true);
}

int NetworkLink::Open(const NetworkPort& where, std::unique_ptr<PortLink>& link) {
    std::unique_ptr<NetworkLink> opened(new NetworkLink(where));
    if (int error = opened->Start()) {
        return error;
    }
    link = std::move(opened);
    return 0;
}

int NetworkLink::Start() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        return errno;
    }
    resume_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (resume_ < 0) {
        return errno;
    }
    epoll_event resume{};
    resume.events = EPOLLIN | EPOLLET;
    resume.data.fd = resume_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, resume_, &resume) != 0) {
        return errno;
    }
    deadline_ = Clock::now() + std::chrono::milliseconds(ConnectTimeoutMs);
    resolution_ = std::make_shared<Resolution>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(where_.port);
    addrinfo* found = nullptr;
    if (getaddrinfo(where_.host.c_str(), service.c_str(), &hints, &found) == 0) {
        // An address needs no name service: connect at once.
        std::memcpy(&resolution_->address, found->ai_addr, found->ai_addrlen);
        resolution_->length = found->ai_addrlen;
        resolution_->done = true;
        freeaddrinfo(found);
        return StartConnect();
    }
    Resolution& resolution = *resolution_;
    resolution.ready = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (resolution.ready < 0) {
        return errno;
    }
    epoll_event ready{};
    ready.events = EPOLLIN | EPOLLET;
    ready.data.fd = resolution.ready;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, resolution.ready, &ready) != 0) {
        return errno;
    }
    try {
        std::thread([shared = resolution_, host = where_.host, service] {
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* found = nullptr;
            const int result = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            std::lock_guard lock(shared->mutex);
            if (result == 0) {
                std::memcpy(&shared->address, found->ai_addr, found->ai_addrlen);
                shared->length = found->ai_addrlen;
                freeaddrinfo(found);
            } else {
                shared->error = result == EAI_SYSTEM ? errno : EHOSTUNREACH;
            }
            shared->done = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] ssize_t ignored = write(shared->ready, &one, sizeof one);
        }).detach();
    } catch (const std::system_error& failure) {
        return failure.code().value();
    }
    return 0;
}

int NetworkLink::StartConnect() {
    phase_ = Phase::Connecting;
    socket_ = socket(resolution_->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     IPPROTO_TCP);
    if (socket_ < 0) {
        return Fail(errno);
    }
    // Every message waits for its echo: nothing may sit in the sender waiting for more.
    SetOption(socket_, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket_, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(UserTimeoutMs));
    SetOption(socket_, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetOption(socket_, IPPROTO_TCP, TCP_KEEPIDLE, KeepIdleS);
    SetOption(socket_, IPPROTO_TCP, TCP_KEEPINTVL, KeepIntervalS);
    SetOption(socket_, IPPROTO_TCP, TCP_KEEPCNT, KeepCount);
    epoll_event port{};
    port.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    port.data.fd = socket_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, socket_, &port) != 0) {
        return Fail(errno);
    }
    const auto* address = reinterpret_cast<const sockaddr*>(&resolution_->address);
    if (connect(socket_, address, resolution_->length) != 0 && errno != EINPROGRESS) {
        return Fail(errno);
    }
    return 0;
}

int NetworkLink::FinishConnect() {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return Fail(errno);
    }
    if (error != 0) {
        return Fail(error);
    }
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return 0; // not connected yet: the writable edge was not its end
    }
    deadline_ = Clock::now() + std::chrono::milliseconds(NegotiationTimeoutMs);
    if (!where_.telnet) {
        phase_ = Phase::Ready;
        return 0;
    }
    phase_ = Phase::Negotiating;
    codec_.Begin(out_);
    return Flush();
}

int NetworkLink::Fail(int error) {
    if (phase_ != Phase::Failed) {
        phase_ = Phase::Failed;
        failure_ = error != 0 ? error : EIO;
    }
    return failure_;
}

int NetworkLink::Service(std::uint32_t& events, std::uint32_t& lineErrors) {
    // The edges are taken here; what they said is found out by trying.
    epoll_event ready[4];
    for (int count; (count = epoll_wait(epoll_, ready, 4, 0)) > 0;) {
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == resume_ || (resolution_ && fd == resolution_->ready)) {
                std::uint64_t drained = 0;
                [[maybe_unused]] ssize_t ignored = read(fd, &drained, sizeof drained);
            }
        }
    }
    if (phase_ == Phase::Resolving) {
        std::unique_lock lock(resolution_->mutex);
        if (resolution_->done) {
            const int error = resolution_->error;
            lock.unlock();
            if (error != 0) {
                return Fail(error);
            }
            if (int failed = StartConnect()) {
                return failed;
            }
        }
    }
    if (phase_ == Phase::Connecting) {
        if (int error = FinishConnect()) {
            return error;
        }
    }
    if (phase_ == Phase::Negotiating || phase_ == Phase::Ready) {
        if (int error = Flush()) {
            return error;
        }
        const std::size_t before = input_.size();
        if (int error = Receive()) {
            return error;
        }
        events |= input_.size() > before ? EvRxChar : 0;
        TakeNotifications(events, lineErrors);
        if (int error = CheckNegotiation()) {
            return error;
        }
    }
    if (phase_ != Phase::Failed && phase_ != Phase::Ready && Clock::now() >= deadline_) {
        return Fail(ETIMEDOUT);
    }
    return phase_ == Phase::Failed ? failure_ : 0;
}

int NetworkLink::ServiceDueMs() const {
    if (phase_ == Phase::Ready || phase_ == Phase::Failed) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, ConnectTimeoutMs));
}

int NetworkLink::Receive() {
    std::uint8_t chunk[4096];
    for (;;) {
        if (input_.size() >= InputLimit) {
            heldBack_ = true;
            return 0;
        }
        const ssize_t got = recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got == 0) {
            return Fail(ECONNRESET);
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN ? 0 : Fail(errno);
        }
        if (!where_.telnet) {
            input_.insert(input_.end(), chunk, chunk + got);
            continue;
        }
        const std::size_t repliesBefore = out_.size();
        if (!codec_.Decode(chunk, static_cast<std::size_t>(got), input_, out_)) {
            return Fail(EPROTO);
        }
        if (out_.size() != repliesBefore) {
            if (int error = Flush()) {
                return error;
            }
        }
    }
}

int NetworkLink::Flush() {
    while (!out_.empty()) {
        const ssize_t sent = send(socket_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN ? 0 : Fail(errno);
        }
        out_.erase(out_.begin(), out_.begin() + sent);
    }
    return 0;
}

void NetworkLink::SendLineFormat() {
    if (formatWanted_ && !formatSent_ && codec_.ComPortAccepted()) {
        codec_.RequestLineFormat(format_, out_);
        formatSent_ = true;
        deadline_ = Clock::now() + std::chrono::milliseconds(NegotiationTimeoutMs);
        if (phase_ == Phase::Ready) {
            phase_ = Phase::Negotiating;
        }
    }
}

// Data may go once the server has taken the COM-PORT-OPTION and confirmed the line format that
// was asked for; a server that sets another format than asked is not used at all.
int NetworkLink::CheckNegotiation() {
    if (!where_.telnet || phase_ != Phase::Negotiating) {
        return 0;
    }
    if (codec_.ComPortRefused()) {
        return Fail(EPROTONOSUPPORT);
    }
    if (!codec_.ComPortAccepted()) {
        return 0;
    }
    SendLineFormat();
    if (formatSent_) {
        if (!codec_.LineFormatAnswered()) {
            return Flush();
        }
        const RemoteLineAnswers& answers = codec_.Answers();
        if (*answers.bitRate != format_.bitRate || *answers.dataSize != format_.dataSize ||
            *answers.parity != format_.parity || *answers.stopSize != format_.stopSize) {
            return Fail(EINVAL);
        }
    }
    phase_ = Phase::Ready;
    return Flush();
}

void NetworkLink::TakeNotifications(std::uint32_t& events, std::uint32_t& lineErrors) {
    const std::uint8_t line = codec_.TakeLineState();
    const std::uint8_t modem = codec_.TakeModemState();
    lineErrors |= (line & telnet::LineOverrun) != 0 ? LineErrOverrun : 0;
    lineErrors |= (line & telnet::LineParityError) != 0 ? LineErrParity : 0;
    lineErrors |= (line & telnet::LineFrameError) != 0 ? LineErrFrame : 0;
    lineErrors |= (line & telnet::LineBreak) != 0 ? LineErrBreak : 0;
    events |= (line & telnet::LineBreak) != 0 ? EvBreak : 0;
    events |= (line & (telnet::LineOverrun | telnet::LineParityError | telnet::LineFrameError)) != 0
                  ? EvError
                  : 0;
    events |= (modem & telnet::ModemDeltaCts) != 0 ? EvCts : 0;
    events |= (modem & telnet::ModemDeltaDsr) != 0 ? EvDsr : 0;
    events |= (modem & telnet::ModemDeltaCd) != 0 ? EvRlsd : 0;
    events |= (modem & telnet::ModemRingEnded) != 0 ? EvRing : 0;
}

// Makes the service thread come back for the input that TCP holds.
void NetworkLink::Resume() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(resume_, &one, sizeof one);
}

ssize_t NetworkLink::Read(std::uint8_t* buffer, std::size_t size) {
    if (phase_ == Phase::Failed) {
        return 0;
    }
    if (input_.empty()) {
        errno = EAGAIN;
        return -1;
    }
    const std::size_t taken = std::min(size, input_.size());
    std::copy_n(input_.begin(), taken, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(taken));
    if (heldBack_ && input_.size() <= InputLimit / 2) {
        heldBack_ = false;
        Resume();
    }
    return static_cast<ssize_t>(taken);
}

// Each write leaves in one send, so that with Nagle off it is one segment on the wire.
ssize_t NetworkLink::Write(const std::uint8_t* data, std::size_t size) {
    if (phase_ == Phase::Failed) {
        errno = EIO;
        return -1;
    }
    if (!Ready() || !out_.empty()) {
        errno = EAGAIN;
        return -1;
    }
    if (where_.telnet) {
        TelnetCodec::EncodeData(data, size, out_);
    } else {
        out_.assign(data, data + size);
    }
    if (Flush() != 0) {
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

// What TCP has taken cannot be called back, and a cut into the rest could split an escaped
// byte; the server is asked to drop what it has not yet put on its line.
void NetworkLink::DiscardOutput() {
    if (where_.telnet && Ready()) {
        const std::uint8_t transmit = telnet::PurgeTransmit;
        TelnetCodec::EncodeComPort(telnet::PurgeData, &transmit, 1, out_);
        Flush();
    }
}

int NetworkLink::ReadSettings(LineSettings& settings) {
    if (phase_ == Phase::Failed) {
        return EIO;
    }
    if (const std::optional<std::uint32_t> rate = codec_.Answers().bitRate) {
        settings.bitRate = *rate; // the rate that the server's line really has
    }
    return 0;
}

int NetworkLink::WriteSettings(const LineSettings& settings) {
    if (phase_ == Phase::Failed) {
        return EIO;
    }
    if (!IsValidLineFormat(settings)) {
        return EINVAL;
    }
    RemoteLineFormat format;
    format.bitRate = settings.bitRate;
    format.dataSize = settings.dataBits;
    format.parity = ParityCode(settings.parity);
    format.stopSize = StopCode(settings.stopBits);
    format.control = settings.ctsOutFlow             ? telnet::ControlHardware
                     : settings.outX || settings.inX ? telnet::ControlXonXoff
                                                     : telnet::ControlNoFlow;
    if (!where_.telnet) {
        return 0; // the server's own settings apply
    }
    const bool same = formatWanted_ && format.bitRate == format_.bitRate &&
                      format.dataSize == format_.dataSize && format.parity == format_.parity &&
                      format.stopSize == format_.stopSize && format.control == format_.control;
    if (same) {
        return 0;
    }
    format_ = format;
    formatWanted_ = true;
    formatSent_ = false;
    SendLineFormat();
    return Flush();
}

bool NetworkLink::ReadCounts(serial_icounter_struct&, int& error) {
    error = ENOTTY; // the notifications come through Service instead
    return false;
}

void NetworkLink::Release(bool lost) {
    if (socket_ >= 0) {
        if (!lost && phase_ != Phase::Failed) {
            Flush();
        }
        close(socket_);
        socket_ = -1;
    }
    for (int* fd : {&resume_, &epoll_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    resolution_.reset();
    phase_ = Phase::Failed;
}

} // namespace serial
