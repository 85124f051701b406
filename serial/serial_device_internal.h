#pragma once
// What the parts of SerialDevice share: the record of an operation under way.

#include "serial/serial_device.h"

#include <cerrno>

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

} // namespace serial
