#pragma once
// What the parts of SerialDevice share: the record of an operation under way, and the small
// questions that they ask the descriptor.

#include "serial/output_queue.h"
#include "serial/serial_device.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace serial {

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

// The device has gone (a pulled adapter, a closed pseudo-terminal master).
inline bool IsDeviceGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

inline bool ReadCounts(int fd, serial_icounter_struct& counts, int& error) {
    if (ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        return true;
    }
    error = errno;
    return false;
}

} // namespace serial
