#include "monitor/traffic/line_kind.h"

#include "busproto/checksum.h"
#include "busproto/messages.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr const char* kBadChecksum = "bad checksum";
}

const char* MessageProblem(const TrafficLine& line) {
    const int length = line.length;
    if (length < 1 || !IsOpcode(line.bytes[0]))
        return "no opcode at the start";
    if (std::any_of(line.bytes + 1, line.bytes + length, IsOpcode))
        return "an opcode inside the message";
    // The receive assembler takes at least four bytes of a message of the variable class.
    const bool variable = (line.bytes[0] & 0xE0) == 0xE0;
    const int expected = variable ? std::max(length > 1 ? int(line.bytes[1]) : 0, 4)
                                  : BusMessageLength(line.bytes[0]);
    if (length != expected)
        return "wrong length for its opcode";
    if (ComputeChecksum(length, line.bytes) != 0)
        return kBadChecksum;
    return nullptr;
}

LineKind KindOfLine(const TrafficLine& line) {
    if (line.kind == TrafficLine::Kind::Raw)
        return LineKind::RawData;
    const int length = line.length;
    if (const char* problem = MessageProblem(line))
        return std::strcmp(problem, kBadChecksum) == 0 ? LineKind::BadChecksum : LineKind::Damaged;
    std::uint8_t kind = 0;
    std::uint8_t group = 0;
    std::uint8_t code = 0;
    std::uint8_t d[12] = {};
    if (DecodeIplMessage(line.bytes, length, &kind, d)) {
        switch (kind) {
        case IplSetup:
            return LineKind::IplSetup;
        case IplAddress:
            return LineKind::IplAddress;
        case IplData:
            return LineKind::IplData;
        case IplEnd:
            return LineKind::IplEnd;
        default:
            return LineKind::Message;
        }
    }
    if (DecodeDeviceMessage(line.bytes, length, &group, &code, d)) {
        if (group == kDeviceGroup && code == kReplyCode)
            return LineKind::DeviceReply;
        if (group == kDeviceGroup && code == kRequestCode)
            return d[2] == 1 ? LineKind::IdentifyRequest : LineKind::DiscoverRequest;
        if (group == kPingGroup)
            return LineKind::PingReply;
        return LineKind::OtherDeviceMessage;
    }
    return LineKind::Message;
}

const char* LineKindName(LineKind kind) {
    switch (kind) {
    case LineKind::Message:
        return "Other message";
    case LineKind::IplSetup:
        return "IPL setup";
    case LineKind::IplAddress:
        return "IPL address";
    case LineKind::IplData:
        return "IPL data";
    case LineKind::IplEnd:
        return "IPL end";
    case LineKind::DiscoverRequest:
        return "Discover request";
    case LineKind::IdentifyRequest:
        return "Identify request";
    case LineKind::DeviceReply:
        return "Device reply";
    case LineKind::PingReply:
        return "Ping reply";
    case LineKind::OtherDeviceMessage:
        return "Other device message";
    case LineKind::BadChecksum:
        return "Bad checksum";
    case LineKind::Damaged:
        return "Damaged line";
    case LineKind::RawData:
        return "Raw data";
    }
    return "";
}
