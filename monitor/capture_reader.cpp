#include "monitor/capture_reader.h"

#include "monitor/pcap_export.h"
#include "monitor/traffic/line_kind.h"

#include <QFile>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a decimal number at `pos` and the text that must follow it.
bool Number(std::string_view text, std::size_t& pos, int& value, std::string_view follow) {
    const char* begin = text.data() + pos;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end == begin)
        return false;
    pos += static_cast<std::size_t>(end - begin);
    if (text.substr(pos, follow.size()) != follow)
        return false;
    pos += follow.size();
    return true;
}

// "#nnnn = m/d/yyyy hh:mm:ss.hh - "; on success `pos` is behind it.
bool ParsePrefix(std::string_view text, std::size_t& pos, TrafficLine& line) {
    pos = 1;
    StampTime& t = line.time;
    int number = 0;
    if (!Number(text, pos, number, " = ") || !Number(text, pos, t.month, "/") ||
        !Number(text, pos, t.day, "/") || !Number(text, pos, t.year, " ") ||
        !Number(text, pos, t.hour, ":") || !Number(text, pos, t.minute, ":") ||
        !Number(text, pos, t.second, ".") || !Number(text, pos, t.hundredths, " - "))
        return false;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60 || t.hundredths < 0 ||
        t.hundredths > 99)
        return false;
    line.stamped = true;
    line.number = number;
    return true;
}

CaptureLine Foreign(std::string_view text, const char* reason) {
    CaptureLine result;
    result.line = TrafficLine::Message(nullptr, 0);
    result.mark = LineMark::Foreign;
    result.reason = reason;
    result.text.assign(text);
    return result;
}

} // namespace

CaptureLine ParseCaptureLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    CaptureLine result;
    std::size_t pos = 0;
    bool prefixBad = false;
    if (!text.empty() && text[0] == '#' && !ParsePrefix(text, pos, result.line)) {
        // Without the " - " that ends a prefix there are no bytes to speak of.
        const std::size_t end = text.find(" - ");
        if (end == std::string_view::npos)
            return Foreign(text, "not a line of hexadecimal bytes");
        pos = end + 3;
        prefixBad = true;
    }
    std::uint8_t bytes[TrafficLine::kMaxBytes + 1] = {};
    int count = 0;
    int dashAt = -1; // bytes before the raw line's "- "
    while (pos < text.size()) {
        if (IsBlank(text[pos])) {
            ++pos;
            continue;
        }
        const bool blankAfter = pos + 1 >= text.size() || IsBlank(text[pos + 1]);
        if (text[pos] == '-' && blankAfter && dashAt < 0 && !result.line.stamped && !prefixBad) {
            dashAt = count;
            ++pos;
            continue;
        }
        const int high = HexDigit(text[pos]);
        const int low = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
        if (high < 0 || low < 0 || (pos + 2 < text.size() && !IsBlank(text[pos + 2])))
            return Foreign(text, "not a line of hexadecimal bytes");
        if (count <= TrafficLine::kMaxBytes)
            bytes[count] = static_cast<std::uint8_t>(high * 16 + low);
        ++count;
        pos += 2;
    }
    if (count == 0)
        return Foreign(text, dashAt >= 0 ? "not a line of hexadecimal bytes" : "empty line");

    if (dashAt >= 0) {
        result.line = TrafficLine::Raw(bytes, count);
        if (dashAt != 10 || count != TrafficLine::kRawLineBytes) {
            result.mark = LineMark::Damaged;
            result.reason = "raw line not of 10 and 10 bytes";
        }
        return result;
    }
    const TrafficLine stamp = result.line;
    result.line = TrafficLine::Message(bytes, count);
    result.line.stamped = stamp.stamped;
    result.line.number = stamp.number;
    result.line.time = stamp.time;
    result.reason = count > TrafficLine::kMaxBytes ? "longer than a message"
                    : prefixBad                    ? "unreadable time stamp"
                                                   : MessageProblem(result.line);
    if (result.reason != nullptr)
        result.mark = LineMark::Damaged;
    return result;
}

CCaptureReader::~CCaptureReader() {
    Close();
}

bool CCaptureReader::Open(const QString& path) {
    Close();
    m_error.clear();
    m_lineNumber = 0;
    m_file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (m_file == nullptr) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool CCaptureReader::Next(CaptureLine& line) {
    if (m_file == nullptr)
        return false;
    m_buffer.clear();
    bool cut = false;
    int c = 0;
    errno = 0;
    while ((c = getc_unlocked(m_file)) != EOF && c != '\n') {
        if (m_buffer.size() < kMaxLineLength)
            m_buffer += static_cast<char>(c);
        else
            cut = true;
    }
    if (c == EOF && std::ferror(m_file)) {
        m_error = QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
        Close();
        return false;
    }
    if (c == EOF && m_buffer.empty())
        return false; // the end, or a last line end with nothing behind it
    ++m_lineNumber;
    line = cut ? Foreign(m_buffer, "line too long") : ParseCaptureLine(m_buffer);
    return true;
}

void CCaptureReader::Close() {
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = nullptr;
}

double CaptureFigures::MessagesPerSecond() const {
    const double seconds = SpanSeconds();
    return seconds > 0 ? double(messages) / seconds : 0;
}

bool ReadCaptureFile(const QString& path, const std::function<void(const TrafficLine&)>& add,
                     std::vector<CaptureNote>& notes, CaptureFigures& figures, QString& error) {
    figures = CaptureFigures{};
    notes.clear();
    error.clear();
    CCaptureReader reader;
    if (!reader.Open(path)) {
        error = reader.Error();
        return false;
    }
    CaptureLine line;
    while (reader.Next(line)) {
        const std::int64_t row = figures.lines++;
        add(line.line);
        figures.bytes += line.line.length;
        if (line.mark != LineMark::Good) {
            constexpr std::size_t kShownText = 200; // of a foreign line, in its note
            notes.push_back({row, line.reason, line.text.substr(0, kShownText)});
        }
        if (line.mark == LineMark::Foreign)
            ++figures.foreign;
        else if (line.reason != nullptr && std::strcmp(line.reason, "bad checksum") == 0)
            ++figures.badChecksum;
        else if (line.mark == LineMark::Damaged)
            ++figures.damaged;
        else if (line.line.kind == TrafficLine::Kind::Raw)
            ++figures.rawLines;
        else
            ++figures.messages;
        if (line.line.stamped && line.mark != LineMark::Foreign) {
            const std::int64_t us = EpochUsOfStamp(line.line.time);
            if (figures.firstUs < 0)
                figures.firstUs = us;
            figures.lastUs = us;
        }
    }
    error = reader.Error();
    return error.isEmpty();
}
