#include "loader/discovery_rows.h"

#include "busproto/messages.h"
#include "loader/product_table.h"

#include <cstdio>

namespace {

constexpr int kCodeByte = 3;
constexpr int kProductByte = 5;          // d0
constexpr int kSecondaryByte = 6;        // d1
constexpr int kHardwareByte = 7;         // d2
constexpr int kSoftwareByte = 8;         // d3
constexpr int kBootLoaderByte = 10;      // d4
constexpr int kSerialByte = 11;          // d5..d7, low byte first
constexpr int kSecondarySerialByte = 15; // d8..d11, low byte first
constexpr int kLocalRssiByte = 12;       // d6
constexpr int kRemoteRssiByte = 13;      // d7

std::uint32_t LittleEndian(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

} // namespace

std::optional<DiscoveryRow> DecodeDiscoveryReply(const std::uint8_t* message, bool keepUnknown) {
    if (message[kCodeByte] != kReplyCode) {
        return std::nullopt;
    }
    const std::uint8_t product = message[kProductByte];
    const std::uint8_t secondary = message[kSecondaryByte];
    const std::string productName = LookupProductName(product);
    const std::string secondaryName = LookupProductName(secondary);
    if (productName.empty() && secondaryName.empty() && !keepUnknown) {
        return std::nullopt;
    }
    DiscoveryRow row;
    row.productCode = product;
    row.device = productName;
    row.serial = LittleEndian(&message[kSerialByte], 3);
    row.software = VersionText(message[kSoftwareByte]);
    if (secondary == kSecondaryWithSerial) {
        row.hardware = secondaryName;
        row.secondarySerial = LittleEndian(&message[kSecondarySerialByte], 4);
    } else {
        row.hardware = std::to_string(message[kHardwareByte]);
    }
    row.bootLoader = VersionText(message[kBootLoaderByte]);
    return row;
}

std::string FormatRssiLine(const std::uint8_t* message) {
    char text[64];
    std::snprintf(text, sizeof text, "Local RSSI = %2.2X  Remote RSSI = %2.2X",
                  message[kLocalRssiByte], message[kRemoteRssiByte]);
    return text;
}
