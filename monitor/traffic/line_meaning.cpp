#include "monitor/traffic/line_meaning.h"

#include "busproto/checksum.h"
#include "busproto/messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, n < 0 ? 0 : std::min<std::size_t>(std::size_t(n), sizeof text - 1));
}

std::string HexBytes(const std::uint8_t* bytes, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += Format(i == 0 ? "%2.2X" : " %2.2X", bytes[i]);
    return text;
}

std::string LengthClass(const TrafficLine& line) {
    const std::uint8_t opcode = line.bytes[0];
    if (!IsOpcode(opcode))
        return Format("%d bytes without an opcode", line.length);
    if ((opcode & 0xE0) == 0xE0)
        return Format("Opcode %2.2X: variable length, %d bytes", opcode, line.length);
    return Format("Opcode %2.2X: fixed length, %d bytes", opcode, BusMessageLength(opcode));
}

const char* IplKindName(std::uint8_t kind) {
    switch (kind) {
    case IplSetup:
        return "IPL setup";
    case IplAddress:
        return "IPL address";
    case IplData:
        return "IPL data";
    case IplEnd:
        return "IPL end";
    default:
        return nullptr;
    }
}

std::string SerialText(std::uint32_t serial) {
    return Format("%u (0x%X)", serial, serial);
}

std::string DeviceMeaning(std::uint8_t group, std::uint8_t code, const std::uint8_t* d) {
    std::string text = Format("Device message: group %2.2X, code %2.2X", group, code);
    if (group == kDeviceGroup && code == kReplyCode) {
        const DeviceInfo device = DeviceInfoFromPayload(d);
        text += Format("\nDevice reply: product %u, second product %u", device.product,
                       device.product2);
        text += "\nSerial number " + SerialText(device.serial) + ", second serial number " +
                SerialText(device.serial2);
        text += "\nSoftware " + VersionText(device.software) + ", hardware " +
                VersionText(device.hardware) + ", boot loader " + VersionText(device.bootloader);
    } else if (group == kDeviceGroup && code == kRequestCode && d[2] == 1) {
        const std::uint32_t serial = d[5] | d[6] << 8 | d[7] << 16;
        text += Format("\nIdentify request: product %u, serial number ", d[0]) + SerialText(serial);
    } else if (group == kDeviceGroup && code == kRequestCode) {
        text += d[0] == 0 ? std::string("\nDiscover request: all products")
                          : Format("\nDiscover request: product %u", d[0]);
    } else if (group == kPingGroup) {
        text += Format("\nPing reply: signal strength local %u, remote %u", d[6], d[7]);
    }
    text += "\nPayload " + HexBytes(d, 12);
    return text;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int yoe = static_cast<int>(year - era * 400);
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t Hundredths(const StampTime& t) {
    const std::int64_t seconds =
        DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return seconds * 100 + t.hundredths;
}

} // namespace

std::string LineMeaning(const TrafficLine& line, const TrafficLine* previous) {
    if (line.kind == TrafficLine::Kind::Raw)
        return Format("Raw data: %d bytes", line.length);
    if (line.length <= 0)
        return "Empty line";
    std::string text = LengthClass(line);
    std::uint8_t kind = 0;
    std::uint8_t data[12] = {};
    std::uint8_t group = 0;
    std::uint8_t code = 0;
    if (DecodeIplMessage(line.bytes, line.length, &kind, data)) {
        const char* name = IplKindName(kind);
        text += name != nullptr ? Format("\n%s message", name)
                                : Format("\nIPL message of kind %2.2X", kind);
        text += "\nPayload " + HexBytes(data, 8);
    } else if (DecodeDeviceMessage(line.bytes, line.length, &group, &code, data)) {
        text += "\n" + DeviceMeaning(group, code, data);
    }
    if (line.stamped && previous != nullptr && previous->kind == TrafficLine::Kind::Message &&
        previous->stamped) {
        const std::int64_t gap = Hundredths(line.time) - Hundredths(previous->time);
        const std::int64_t size = gap < 0 ? -gap : gap;
        text += Format("\n%s%lld.%02lld s since the previous message", gap < 0 ? "-" : "",
                       static_cast<long long>(size / 100), static_cast<long long>(size % 100));
    }
    return text;
}
