#pragma once
// One display line of the monitor, kept as the bytes it shows rather than as text, and its
// text form, shared by the traffic list and the capture file.

#include <cstdint>
#include <ctime>
#include <string>

// Calendar time of a time-stamp prefix, all fields local time.
struct StampTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;     // 0..60 (a leap second)
    int hundredths = 0; // 0..99
};

// The current local time with hundredths of a second. Falls back to UTC in the unlikely case
// that the conversion to local time fails, so the prefix never shows an impossible time.
StampTime LocalStampNow();
StampTime StampFromEpochMs(std::int64_t epochMs);

struct TrafficLine {
    static constexpr int kMaxBytes = 32; // a whole message of the receive assembler
    static constexpr int kRawLineBytes = 20;

    enum class Kind : std::uint8_t { Message, Raw };

    Kind kind = Kind::Message;
    bool stamped = false;    // message lines: with the "#nnnn = date time - " prefix
    std::int32_t number = 0; // message number shown in the prefix
    StampTime time;          // time shown in the prefix
    int length = 0;          // bytes used
    std::uint8_t bytes[kMaxBytes] = {};

    static TrafficLine Message(const std::uint8_t* data, int count);
    static TrafficLine Raw(const std::uint8_t* data, int count);
};

// Appends the line's text: a message as "%2.2X " per byte behind the optional prefix
// "#%4.4d = %d/%d/%d %2.2d:%2.2d:%2.2d.%2.2d - "; a raw line as "%2.2X " per byte with "- "
// before the 11th.
void AppendLineText(const TrafficLine& line, std::string& out);
std::string LineText(const TrafficLine& line);
