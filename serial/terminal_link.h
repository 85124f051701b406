#pragma once
// A port on a terminal device: a UART, a USB adapter or a pseudo-terminal, opened exclusively
// in raw mode, with its lock file and low latency where the driver allows them.

#include "serial/port_link.h"

#include <memory>
#include <string>

namespace serial {

class TerminalLink final : public PortLink {
public:
    // Opens the device at path; returns 0 or an errno value.
    static int Open(const std::string& path, std::unique_ptr<PortLink>& link);
    explicit TerminalLink(int fd) : fd_(fd) {}
    ~TerminalLink() override;

    int Descriptor() const override { return fd_; }
    ssize_t Read(std::uint8_t* buffer, std::size_t size) override;
    ssize_t Write(const std::uint8_t* data, std::size_t size) override;
    int QueuedOutput() override;
    void DiscardOutput() override;
    int QueuedInput() override;
    int ReadSettings(LineSettings& settings) override;
    int WriteSettings(const LineSettings& settings) override;
    bool ReadCounts(serial_icounter_struct& counts, int& error) override;
    int Service(std::uint32_t&, std::uint32_t&) override { return 0; }
    int ServiceDueMs() const override { return -1; }
    void Release(bool lost) override;

private:
    void AskForLowLatency();
    void LetOutputGo();

    int fd_;
    std::string lockedPath_;      // the device whose lock file we hold
    serial_struct savedSerial_{}; // the driver's flags before low latency was asked for
    bool lowLatencySet_ = false;
};

} // namespace serial
