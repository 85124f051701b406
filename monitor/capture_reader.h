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
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class LineMark : std::uint8_t { Good, Damaged, Foreign };

struct CaptureLine {
    TrafficLine line; // bytes (at most 32) and prefix values as read
    LineMark mark = LineMark::Good;
    const char* reason = nullptr; // why the line is marked; null for a good line
    std::string text;             // a foreign line's text as it stands in the file
};

// One line of the file, without its line end.
CaptureLine ParseCaptureLine(std::string_view text);

// The figures of a capture file read back.
struct CaptureFigures {
    std::int64_t lines = 0;
    std::int64_t messages = 0; // message lines the monitor would show
    std::int64_t badChecksum = 0;
    std::int64_t damaged = 0; // other damaged lines, bad checksums not counted
    std::int64_t foreign = 0;
    std::int64_t rawLines = 0;
    std::int64_t bytes = 0;
    std::int64_t firstUs = -1; // time stamps of the first and last stamped line, UTC
    std::int64_t lastUs = -1;

    double SpanSeconds() const { return firstUs >= 0 ? double(lastUs - firstUs) / 1e6 : 0; }
    // Messages a second between the first and the last time stamp; 0 without a span.
    double MessagesPerSecond() const;
};

// Why a line of a capture file is marked, and a foreign line's text.
struct CaptureNote {
    std::int64_t row = 0;
    const char* reason = "";
    std::string text;
};

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
    friend bool ReadCaptureFile(const QString&, const std::function<void(const TrafficLine&)>&,
                                std::vector<CaptureNote>&, CaptureFigures&, QString&);
    std::FILE* m_file = nullptr;
    std::string m_buffer;
    std::int64_t m_lineNumber = 0;
    QString m_error;
};

// Reads a whole capture file: every line to `add` in order (a foreign line as a message line
// without bytes), a note for each marked line, and the figures. False when the file cannot be
// opened, or reading failed part way (the lines before stay added); `error` says why.
bool ReadCaptureFile(const QString& path, const std::function<void(const TrafficLine&)>& add,
                     std::vector<CaptureNote>& notes, CaptureFigures& figures, QString& error);
