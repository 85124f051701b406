#pragma once

#include <cstdint>

// Receiver of the device replies that the loader's bus link routes while a
// discovery window is open. The discovery window implements it; the link
// calls it on the user-interface thread with a whole 20-byte device message
// whose payload high bits have been put back.
class CDiscoverySink {
public:
    // A reply of the ping group: signal strengths in bytes 12 and 13.
    virtual void ShowRssi(const std::uint8_t* message) = 0;
    // A reply of the device group: one device reporting itself.
    virtual void AddDiscoveryReply(const std::uint8_t* message) = 0;

protected:
    ~CDiscoverySink() = default;
};
