#include "busproto/messages.h"

#include "busproto/checksum.h"

#include <cstdio>

namespace {

// Flags byte (without extra bits) of four payload bytes: bit k = bit 7 of byte k.
std::uint8_t HighBitFlags(const std::uint8_t* four) {
    std::uint8_t flags = 0;
    for (int k = 0; k < 4; ++k)
        if (four[k] & 0x80)
            flags |= static_cast<std::uint8_t>(1 << k);
    return flags;
}

// Flags byte at out[0] (ORed with `extra`), then the four bytes with bit 7 cleared.
void PackGroup(const std::uint8_t* four, std::uint8_t extra, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(extra | HighBitFlags(four));
    for (int k = 0; k < 4; ++k)
        out[1 + k] = four[k] & 0x7F;
}

// Inverse of PackGroup: the four bytes with bit 7 put back from the flags at group[0].
void UnpackGroup(const std::uint8_t* group, std::uint8_t* four) {
    for (int k = 0; k < 4; ++k)
        four[k] =
            static_cast<std::uint8_t>((group[1 + k] & 0x7F) | (((group[0] >> k) & 1) ? 0x80 : 0));
}

} // namespace

const char* IplMessageKindName(std::uint8_t kind) {
    switch (kind) {
    case IplSetup:
        return "IplSetup";
    case IplAddress:
        return "IplAddress";
    case IplData:
        return "IplData";
    case IplEnd:
        return "IplEnd";
    default:
        return "IplMessage of unknown kind";
    }
}

void BuildIplMessage(std::uint8_t kind, const std::uint8_t* data, std::uint8_t* out) {
    out[0] = kLongOpcode;
    out[1] = kIplMessageLength;
    out[2] = out[3] = out[4] = 0x7F;
    PackGroup(data, 0x40, out + 5);
    PackGroup(data + 4, kind & 0x70, out + 10);
    out[15] = ComputeChecksum(15, out);
}

void BuildDeviceMessage(std::uint8_t group, std::uint8_t code, const std::uint8_t* data,
                        std::uint8_t* out) {
    out[0] = kLongOpcode;
    out[1] = kDeviceMessageLength;
    out[2] = group & 0x7F;
    out[3] = code & 0x7F;
    for (int g = 0; g < 3; ++g)
        PackGroup(data + 4 * g, 0, out + 4 + 5 * g);
    out[19] = ComputeChecksum(19, out);
}

void RestoreHighBits(std::uint8_t* message) {
    for (int g = 0; g < 3; ++g) {
        const std::uint8_t flags = message[4 + 5 * g];
        for (int k = 0; k < 4; ++k)
            if (flags & (1 << k))
                message[5 + 5 * g + k] |= 0x80;
    }
}

std::string VersionText(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%d.%d", value >> 3, value & 7);
    return text;
}

void BuildDiscoverRequest(std::uint8_t productFilter, std::uint8_t* out) {
    std::uint8_t data[12] = {};
    data[0] = productFilter;
    data[5] = 1;
    BuildDeviceMessage(kDeviceGroup, kRequestCode, data, out);
}

void BuildIdentifyRequest(std::uint8_t product, std::uint32_t serial, std::uint8_t* out) {
    std::uint8_t data[12] = {};
    data[0] = product;
    data[2] = 1;
    data[5] = serial & 0xFF;
    data[6] = (serial >> 8) & 0xFF;
    data[7] = (serial >> 16) & 0xFF;
    BuildDeviceMessage(kDeviceGroup, kRequestCode, data, out);
}

void BuildDeviceReply(const DeviceInfo& device, std::uint8_t* out) {
    std::uint8_t data[12] = {
        device.product,
        device.product2,
        device.hardware,
        device.software,
        device.bootloader,
        static_cast<std::uint8_t>(device.serial & 0xFF),
        static_cast<std::uint8_t>((device.serial >> 8) & 0xFF),
        static_cast<std::uint8_t>((device.serial >> 16) & 0xFF),
        static_cast<std::uint8_t>(device.serial2 & 0xFF),
        static_cast<std::uint8_t>((device.serial2 >> 8) & 0xFF),
        static_cast<std::uint8_t>((device.serial2 >> 16) & 0xFF),
        static_cast<std::uint8_t>((device.serial2 >> 24) & 0xFF),
    };
    BuildDeviceMessage(kDeviceGroup, kReplyCode, data, out);
}

void BuildPingReply(std::uint8_t code, std::uint8_t localRssi, std::uint8_t remoteRssi,
                    std::uint8_t* out) {
    std::uint8_t data[12] = {};
    data[6] = localRssi;
    data[7] = remoteRssi;
    BuildDeviceMessage(kPingGroup, code, data, out);
}

bool DecodeIplMessage(const std::uint8_t* message, int length, std::uint8_t* kind,
                      std::uint8_t* data) {
    if (length != kIplMessageLength || message[0] != kLongOpcode ||
        message[1] != kIplMessageLength || message[2] != 0x7F || message[3] != 0x7F ||
        message[4] != 0x7F || (message[5] & 0x70) != 0x40)
        return false;
    *kind = message[10] & 0x70;
    UnpackGroup(message + 5, data);
    UnpackGroup(message + 10, data + 4);
    return true;
}

bool DecodeDeviceMessage(const std::uint8_t* message, int length, std::uint8_t* group,
                         std::uint8_t* code, std::uint8_t* data) {
    if (length != kDeviceMessageLength || message[0] != kLongOpcode ||
        message[1] != kDeviceMessageLength)
        return false;
    *group = message[2];
    *code = message[3];
    for (int g = 0; g < 3; ++g)
        UnpackGroup(message + 4 + 5 * g, data + 4 * g);
    return true;
}

DeviceInfo DeviceInfoFromPayload(const std::uint8_t* data) {
    DeviceInfo device;
    device.product = data[0];
    device.product2 = data[1];
    device.hardware = data[2];
    device.software = data[3];
    device.bootloader = data[4];
    device.serial = data[5] | (data[6] << 8) | (data[7] << 16);
    device.serial2 = static_cast<std::uint32_t>(data[8]) | (data[9] << 8) | (data[10] << 16) |
                     (static_cast<std::uint32_t>(data[11]) << 24);
    return device;
}
