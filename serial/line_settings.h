#pragma once
// The line-settings record of a port and the terminal calls that need the kernel's termios2
// (kept apart: <asm/termbits.h> cannot share a source file with <termios.h>).

#include <cstdint>

namespace serial {

// The fields that the port operations read and change. Fields without a Linux counterpart
// (DSR output flow, the DTR and RTS control modes, the event character) are kept by the device.
struct LineSettings {
    std::uint32_t bitRate = 0;
    bool parityCheck = false; // input parity checking (INPCK)
    bool ctsOutFlow = false;  // RTS/CTS handshake (CRTSCTS)
    bool dsrOutFlow = false;
    std::uint8_t dtrControl = 1; // 0 off, 1 on, 2 handshake (held on: Linux has no DTR handshake)
    bool outX = false;           // XON/XOFF output control (IXON)
    bool inX = false;            // XON/XOFF input control (IXOFF)
    std::uint8_t rtsControl = 1; // 0 off, 1 on, 2 handshake (CRTSCTS), 3 toggle (held on)
    std::uint8_t dataBits = 8;
    std::uint8_t parity = 0;   // Parity code
    std::uint8_t stopBits = 0; // StopBits code
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
    std::uint8_t eventChar = 0;
};

// Whether a line can take the format: data bits 5-8, known parity and stop-bits codes, 1.5 stop
// bits only with 5 data bits and 2 not with 5, a bit rate above 0.
bool IsValidLineFormat(const LineSettings& settings);

// Each returns 0 or an errno value.

// Puts the line into raw mode: 8 bits, no echo, no canonical input, no translation, no signals,
// no flow control, receiver on, modem lines ignored; a read returns as soon as one byte is there.
int MakeRaw(int fd);
// Fills the termios-backed fields of settings.
int ReadTermios(int fd, LineSettings& settings);
// Writes the termios-backed fields, keeping every other terminal setting. Values the line cannot
// take (data bits outside 5-8, unknown parity or stop-bits codes, 1.5 stop bits without 5 data
// bits, 2 with 5, bit rate 0) give EINVAL and change nothing.
int WriteTermios(int fd, const LineSettings& settings);
// Sets DTR and RTS. Devices without modem lines (a pseudo-terminal) are not an error.
int SetModemLines(int fd, bool dtr, bool rts);
// Discards output that was written but not yet sent.
int DiscardOutput(int fd);

} // namespace serial
