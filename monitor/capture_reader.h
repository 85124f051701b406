#pragma once
// Reading a capture file back: each text line becomes the display line it was written from, a
// message line (with or without its time-stamp prefix) or a raw line of 20 bytes. A line that
// cannot be a line of the monitor is kept and marked, never fatal: a damaged line (the bytes
// of a message that the monitor would not have shown: a wrong checksum, a wrong length, no
// opcode in front) keeps its bytes; a foreign line (not hexadecimal bytes at all) keeps its
// text.

#include "monitor/traffic/traffic_line.h"

#include <QString>
#include <cstdio>
#include <string>
#include <string_view>

enum class LineMark : std::uint8_t { Good, Damaged, Foreign };

struct CaptureLine {
    TrafficLine line; // bytes (at most 32) and prefix values as read
    LineMark mark = LineMark::Good;
    const char* reason = nullptr; // why the line is marked; null for a good line
    std::string text;             // a foreign line's text as it stands in the file
};

// One line of the file, without its line end.
CaptureLine ParseCaptureLine(std::string_view text);

class CCaptureReader {
public:
    static constexpr std::size_t kMaxLineLength = 4096; // longer lines are cut and foreign

    CCaptureReader() = default;
    ~CCaptureReader();
    CCaptureReader(const CCaptureReader&) = delete;
    CCaptureReader& operator=(const CCaptureReader&) = delete;

    // False when the file cannot be opened; Error() then says why.
    bool Open(const QString& path);
    // The next line; false at the end of the file or on a read error (Error() is set then).
    bool Next(CaptureLine& line);
    void Close();
    const QString& Error() const { return m_error; }
    // Lines read so far (1 after the first line).
    std::int64_t LineNumber() const { return m_lineNumber; }

private:
    std::FILE* m_file = nullptr;
    std::string m_buffer;
    std::int64_t m_lineNumber = 0;
    QString m_error;
};
