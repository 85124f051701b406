#pragma once
// What lies under an open port: a terminal device or a network connection. SerialDevice runs the
// operations, their records and the service thread on top of it; the link moves the bytes and
// holds the line settings. Every call is made under the device's mutex. Byte calls behave like
// read(2) and write(2) on a non-blocking descriptor (-1 with errno EAGAIN when they must wait;
// Read returns 0 when the far end has gone); the others return 0 or an errno value.

#include "serial/line_settings.h"

#include <cstddef>
#include <cstdint>
#include <linux/serial.h>
#include <sys/types.h>

namespace serial {

class PortLink {
public:
    virtual ~PortLink() = default;

    // The descriptor that the service thread waits on, edge-triggered, for input, room for
    // output and hang-up.
    virtual int Descriptor() const = 0;
    virtual ssize_t Read(std::uint8_t* buffer, std::size_t size) = 0;
    virtual ssize_t Write(const std::uint8_t* data, std::size_t size) = 0;
    // Bytes taken by Write that have not left yet; 0 where that cannot be told.
    virtual int QueuedOutput() = 0;
    // Drops output that has not left yet, as far as the link can.
    virtual void DiscardOutput() = 0;
    // Received bytes waiting to be read; -1 where that cannot be told.
    virtual int QueuedInput() = 0;

    // Fills the fields of settings that the link holds; SerialDevice keeps the others.
    virtual int ReadSettings(LineSettings& settings) = 0;
    // Applies settings; values the line cannot take give EINVAL and change nothing.
    virtual int WriteSettings(const LineSettings& settings) = 0;
    // The driver's line-error and modem-line counters; false (error set) where none are kept.
    virtual bool ReadCounts(serial_icounter_struct& counts, int& error) = 0;

    // Moves the link's own business on (a connection, its negotiation) each time the service
    // thread wakes. Adds the events and line-error flags that the far end reported. Returns 0,
    // or the errno that ends the link.
    virtual int Service(std::uint32_t& events, std::uint32_t& lineErrors) = 0;
    // Milliseconds until Service must run even if nothing happens; -1 for never.
    virtual int ServiceDueMs() const = 0;

    // Lets queued output go (unless the link is lost) and releases the device.
    virtual void Release(bool lost) = 0;
};

} // namespace serial
