#pragma once
// The capture file: the finished display lines as text, each ending in CR LF. Lines are
// buffered and flushed at every timer tick, so a crash loses at most a tick of lines. A failed
// write or flush is reported, with the system's reason, and the file is then closed.

#include <QString>
#include <cstdio>
#include <string_view>

class CCaptureFile {
public:
    CCaptureFile() = default;
    ~CCaptureFile();
    CCaptureFile(const CCaptureFile&) = delete;
    CCaptureFile& operator=(const CCaptureFile&) = delete;

    // Creates the file, or empties an existing one (capture never appends). False when it
    // cannot be opened; Error() then says why.
    bool Open(const QString& path);
    bool IsOpen() const { return m_file != nullptr; }
    // Writes one line and CR LF into the buffer. False on failure (the file is closed then).
    bool WriteLine(std::string_view text);
    // Hands the buffered lines to the system. False on failure (the file is closed then).
    bool Flush();
    // Closes the file; false when writing out the last lines failed.
    bool Close();
    // The system's reason for the last failure.
    const QString& Error() const { return m_error; }

private:
    bool Fail(int error);

    std::FILE* m_file = nullptr;
    QString m_error;
};
