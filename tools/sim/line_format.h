#pragma once
// The character format and bit rate that the program has set on its side of the pseudo-terminal,
// read from the master side. Kept apart from <termios.h> users: it needs <asm/termbits.h>.

#include "tools/sim/sim_time.h"

#include <cstddef>

struct LineFormat {
    int bitRate = 0;      // bit/s; 0 means no wire time at all
    int bitsPerChar = 10; // start bit, data bits, parity bit, stop bits

    bool operator==(const LineFormat&) const = default;

    // Time that `bytes` characters take on the line.
    Nanos WireTime(std::size_t bytes) const;
};

// Reads the format of the line behind `fd` (either side of a pseudo-terminal). False when the
// descriptor is not a terminal.
bool ReadLineFormat(int fd, LineFormat* format);

// Sets any bit rate (not only the standard ones) on the terminal `fd`; the other settings stay.
bool SetLineBitRate(int fd, int bitRate);
