#include "busproto/checksum.h"

std::uint8_t ComputeChecksum(int length, const std::uint8_t* bytes) {
    std::uint8_t x = 0;
    for (int i = 0; i < length; ++i)
        x ^= bytes[i];
    return static_cast<std::uint8_t>(~x);
}
