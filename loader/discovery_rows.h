#pragma once
// What the discovery window shows for the replies the bus link hands it: the cells of one
// device row, and the signal-strength line of a ping reply. The messages are whole 20-byte
// device messages whose payload high bits have been put back: byte 0 is the opcode, bytes
// 5..8 are d0..d3, 10..13 are d4..d7 and 15..18 are d8..d11.

#include <cstdint>
#include <optional>
#include <string>

// The secondary code whose reply carries that product's name and a 32-bit serial number.
inline constexpr std::uint8_t kSecondaryWithSerial = 0x18;

struct DiscoveryRow {
    std::uint8_t productCode = 0;      // the row's user value
    std::string device;                // column 1: product name, or empty
    std::uint32_t serial = 0;          // column 2, shown in hexadecimal
    std::string software;              // column 3: "%d.%d"
    std::string hardware;              // column 4: "%d", or the secondary product's name
    std::string bootLoader;            // column 5: "%d.%d"
    std::uint32_t secondarySerial = 0; // column 6, shown in hexadecimal
};

// The row for a device reply, or nothing when the message is not a reply (code byte not
// 0x10) or, unless `keepUnknown`, neither its product nor its secondary code is a known
// product (the device name is then empty).
std::optional<DiscoveryRow> DecodeDiscoveryReply(const std::uint8_t* message,
                                                 bool keepUnknown = false);

// "Local RSSI = %2.2X  Remote RSSI = %2.2X" with d6 and d7 of a ping reply.
std::string FormatRssiLine(const std::uint8_t* message);
