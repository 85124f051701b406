#pragma once
// The kind of message a traffic line holds, as the filter bar offers it: the loader's IPL and
// device messages by their meaning, other messages, messages that the monitor would not show
// (from a capture file read back: a wrong checksum, a wrong length) and raw data.

#include "monitor/traffic/traffic_line.h"

#include <cstdint>

enum class LineKind : std::uint8_t {
    Message, // any other message with a good checksum
    IplSetup,
    IplAddress,
    IplData,
    IplEnd,
    DiscoverRequest,
    IdentifyRequest,
    DeviceReply,
    PingReply,
    OtherDeviceMessage,
    BadChecksum,
    Damaged, // no opcode in front, a wrong length, not bytes at all
    RawData,
};
inline constexpr int kLineKindCount = 13;

LineKind KindOfLine(const TrafficLine& line);
// What is wrong with the bytes of a message line, or null when the monitor would show them:
// "no opcode at the start", "an opcode inside the message", "wrong length for its opcode" or
// "bad checksum".
const char* MessageProblem(const TrafficLine& line);
// The name the filter bar shows: "IPL data", "Device reply", "Bad checksum"...
const char* LineKindName(LineKind kind);
