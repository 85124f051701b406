#pragma once
// Trakbus framing: checksum and the message length that follows from the opcode.

#include <cstdint>

// Bitwise NOT of the XOR of `length` bytes, in 8 bits. A sender appends it over the bytes
// before the checksum; a receiver calls it over a whole message and accepts a result of 0.
std::uint8_t ComputeChecksum(int length, const std::uint8_t* bytes);

// True for the one byte of a message that may have bit 7 set.
constexpr bool IsOpcode(std::uint8_t b) {
    return (b & 0x80) != 0;
}

// Total length of a message (opcode and checksum included) from its opcode: 2, 4 or 6 for
// the fixed classes; for 0xE0..0xFF the length is the count byte, so pass it as `countByte`.
// Returns 0 for a byte that is not an opcode.
constexpr int BusMessageLength(std::uint8_t opcode, std::uint8_t countByte = 0) {
    switch (opcode & 0xE0) {
    case 0x80:
        return 2;
    case 0xA0:
        return 4;
    case 0xC0:
        return 6;
    case 0xE0:
        return countByte;
    default:
        return 0;
    }
}
