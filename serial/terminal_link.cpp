#include "serial/terminal_link.h"

#include "serial/exclusive_open.h"
#include "serial/output_queue.h"
#include "serial/port_lock.h"

#include <cerrno>
#include <chrono>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial {
namespace {

// How long Close lets queued bytes go out before it discards them, well inside its 100 ms.
constexpr int CloseDrainMs = 50;

} // namespace

int TerminalLink::Open(const std::string& path, std::unique_ptr<PortLink>& link,
                       PortRefusal& refusal) {
    // Nothing is taken before the checks: a refused open leaves the device as it was.
    int fd = -1;
    if (int error = OpenExclusive(path.c_str(), fd, refusal)) {
        return error;
    }
    const std::string devicePath = RealDevicePath(path.c_str());
    bool locked = false;
    if (int error = TakeLockFile(devicePath, locked, refusal)) {
        CloseExclusive(fd);
        return error;
    }
    // From here the link gives back what was taken, on a failure too.
    auto opened = std::make_unique<TerminalLink>(fd);
    if (locked) {
        opened->lockedPath_ = devicePath;
    }
    int error = SaveTermios(fd, opened->foundTermios_);
    if (error == 0) {
        error = MakeRaw(fd);
    }
    if (error != 0) {
        opened->Release(false);
        return error;
    }
    opened->AskForLowLatency();
    link = std::move(opened);
    return 0;
}

TerminalLink::~TerminalLink() {
    Release(true);
}

// USB adapters hold received bytes for up to their latency timer (16 ms on many) unless asked
// for low latency. Drivers and pseudo-terminals that refuse are left as they are.
void TerminalLink::AskForLowLatency() {
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
void TerminalLink::LetOutputGo() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CloseDrainMs);
    while (QueuedOutput() > 0 && std::chrono::steady_clock::now() < deadline) {
        usleep(2000);
    }
    if (QueuedOutput() > 0) {
        DiscardOutput();
    }
}

// The next program finds the line as this one found it.
void TerminalLink::GiveBackFoundSettings() {
    if (lowLatencySet_) {
        ioctl(fd_, TIOCSSERIAL, &savedSerial_);
        lowLatencySet_ = false;
    }
    RestoreTermios(fd_, foundTermios_);
}

void TerminalLink::Release(bool lost) {
    if (fd_ < 0) {
        return;
    }
    if (!lost) {
        LetOutputGo();
        GiveBackFoundSettings();
    }
    CloseExclusive(fd_);
    fd_ = -1;
    if (!lockedPath_.empty()) {
        ReleaseLockFile(lockedPath_);
        lockedPath_.clear();
    }
}

ssize_t TerminalLink::Read(std::uint8_t* buffer, std::size_t size) {
    return read(fd_, buffer, size);
}

ssize_t TerminalLink::Write(const std::uint8_t* data, std::size_t size) {
    const ssize_t written = write(fd_, data, size);
    if (written > 0) {
        NoteWritten(fd_, static_cast<int>(written));
    }
    return written;
}

// 0 where the driver cannot tell (a pseudo-terminal passes every byte on at once), unless a
// test's queue stands in for the driver's.
int TerminalLink::QueuedOutput() {
    return serial::QueuedOutput(fd_);
}

void TerminalLink::DiscardOutput() {
    DiscardQueuedOutput(fd_);
}

int TerminalLink::QueuedInput() {
    int queued = 0;
    return ioctl(fd_, TIOCINQ, &queued) == 0 ? queued : -1;
}

int TerminalLink::ReadSettings(LineSettings& settings) {
    return ReadTermios(fd_, settings);
}

int TerminalLink::WriteSettings(const LineSettings& settings) {
    if (int error = WriteTermios(fd_, settings)) {
        return error;
    }
    return SetModemLines(fd_, settings.dtrControl != 0, settings.rtsControl != 0);
}

// UARTs count line errors and modem-line changes; pseudo-terminals answer ENOTTY or EINVAL.
bool TerminalLink::ReadCounts(serial_icounter_struct& counts, int& error) {
    if (ioctl(fd_, TIOCGICOUNT, &counts) == 0) {
        return true;
    }
    error = errno;
    return false;
}

} // namespace serial
