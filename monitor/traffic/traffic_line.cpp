#include "monitor/traffic/traffic_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

StampTime FromTm(const std::tm& tm, int millis) {
    StampTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.hundredths = millis / 10;
    return t;
}

void AppendHexByte(std::uint8_t b, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
}

} // namespace

StampTime StampFromEpochMs(std::int64_t epochMs) {
    // Floor division, so that times before 1970 still get milliseconds 0..999.
    std::int64_t seconds = epochMs / 1000;
    int millis = static_cast<int>(epochMs % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr && gmtime_r(&t, &tm) == nullptr)
        return StampTime{};
    return FromTm(tm, millis);
}

StampTime LocalStampNow() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return StampFromEpochMs(ms);
}

TrafficLine TrafficLine::Message(const std::uint8_t* data, int count) {
    TrafficLine line;
    line.kind = Kind::Message;
    line.length = std::clamp(count, 0, kMaxBytes);
    if (line.length > 0) // an empty line may come without any bytes at all
        std::memcpy(line.bytes, data, static_cast<std::size_t>(line.length));
    return line;
}

TrafficLine TrafficLine::Raw(const std::uint8_t* data, int count) {
    TrafficLine line;
    line.kind = Kind::Raw;
    line.length = std::clamp(count, 0, kRawLineBytes);
    if (line.length > 0) // an empty line may come without any bytes at all
        std::memcpy(line.bytes, data, static_cast<std::size_t>(line.length));
    return line;
}

void AppendLineText(const TrafficLine& line, std::string& out) {
    if (line.kind == TrafficLine::Kind::Raw) {
        for (int i = 0; i < line.length; ++i) {
            if (i == 10)
                out += "- ";
            AppendHexByte(line.bytes[i], out);
        }
        return;
    }
    if (line.stamped) {
        const StampTime& t = line.time;
        char prefix[96];
        const int n = std::snprintf(
            prefix, sizeof prefix, "#%4.4d = %d/%d/%d %2.2d:%2.2d:%2.2d.%2.2d - ", line.number,
            t.month, t.day, t.year, t.hour, t.minute, t.second, t.hundredths);
        out.append(prefix, static_cast<std::size_t>(std::clamp(n, 0, int(sizeof prefix) - 1)));
    }
    for (int i = 0; i < line.length; ++i)
        AppendHexByte(line.bytes[i], out);
}

std::string LineText(const TrafficLine& line) {
    std::string text;
    AppendLineText(line, text);
    return text;
}
