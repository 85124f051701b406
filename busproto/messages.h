#pragma once
// The loader's long messages: the 16-byte IplMessage of the firmware download and the 20-byte
// DeviceMessage of discovery. Both carry 8-bit payload bytes in groups of four behind a flags
// byte that holds their bit 7s, because no byte after the opcode may have bit 7 set.

#include <cstdint>
#include <string>

constexpr int kIplMessageLength = 16;
constexpr int kDeviceMessageLength = 20;
constexpr std::uint8_t kLongOpcode = 0xE5;

// IplMessage kinds, as they stand in byte 10.
enum IplKind : std::uint8_t {
    IplSetup = 0x00,
    IplAddress = 0x10,
    IplData = 0x20,
    IplEnd = 0x40,
};

// Group and code bytes of the device messages.
constexpr std::uint8_t kDeviceGroup = 0x0F; // discover, identify, device reply
constexpr std::uint8_t kPingGroup = 0x08;   // ping reply with signal strengths
constexpr std::uint8_t kRequestCode = 0x08; // discover and identify requests
constexpr std::uint8_t kReplyCode = 0x10;   // device reply

// "IplSetup", "IplAddress", "IplData", "IplEnd", or "IplMessage of unknown kind".
const char* IplMessageKindName(std::uint8_t kind);

// Writes the 16 bytes of an IplMessage of `kind` with payload data[0..7] to out[0..15].
void BuildIplMessage(std::uint8_t kind, const std::uint8_t* data, std::uint8_t* out);

// Writes the 20 bytes of a DeviceMessage with payload data[0..11] to out[0..19].
void BuildDeviceMessage(std::uint8_t group, std::uint8_t code, const std::uint8_t* data,
                        std::uint8_t* out);

// On a received DeviceMessage (20 bytes), in place: puts bit 7 back on every payload byte
// whose flag is set. Flags bytes and all other bytes are left as they are.
void RestoreHighBits(std::uint8_t* message);

// "%d.%d" of a version byte: major number in bits 7..3, minor in bits 2..0.
std::string VersionText(std::uint8_t value);

// The requests the loader sends and the replies devices give.
void BuildDiscoverRequest(std::uint8_t productFilter, std::uint8_t* out);
void BuildIdentifyRequest(std::uint8_t product, std::uint32_t serial, std::uint8_t* out);

struct DeviceInfo {
    std::uint8_t product = 0;
    std::uint8_t product2 = 0; // second product code
    std::uint8_t hardware = 0;
    std::uint8_t software = 0;
    std::uint8_t bootloader = 0;
    std::uint32_t serial = 0;  // 24 bits
    std::uint32_t serial2 = 0; // second serial number, 32 bits
};
void BuildDeviceReply(const DeviceInfo& device, std::uint8_t* out);
void BuildPingReply(std::uint8_t code, std::uint8_t localRssi, std::uint8_t remoteRssi,
                    std::uint8_t* out);

// Decoding of received long messages (`length` bytes, checksum already checked). They return
// false when the bytes are not a message of that family.
bool DecodeIplMessage(const std::uint8_t* message, int length, std::uint8_t* kind,
                      std::uint8_t* data);
bool DecodeDeviceMessage(const std::uint8_t* message, int length, std::uint8_t* group,
                         std::uint8_t* code, std::uint8_t* data);
// The fields of a DeviceReply, from d0..d11 as DecodeDeviceMessage gives them.
DeviceInfo DeviceInfoFromPayload(const std::uint8_t* data);
