#pragma once
// Playback of a send file: its bytes go to the port as they are, in chunks of 1024.

#include <QString>
#include <cstdint>
#include <functional>

// Writes `length` bytes and reports in `written` how many the port took; returns an error code
// (0 = success).
using ChunkWriter =
    std::function<int(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written)>;

struct SendFileResult {
    std::uint64_t bytesSent = 0; // as reported by the writer
    int chunks = 0;              // writes made
    bool stoppedShort = false;   // a write took fewer bytes than its chunk held
    bool stopped = false;        // ended on request before the end of the file
};

// Time-out for a write of `length` bytes at `bitRate`: 2000 ms, or the bytes' wire time (10 bits
// a byte) and one second more where that is longer, since a write ends only once its bytes have
// left the port and a full chunk at a low rate takes longer than 2000 ms.
std::uint32_t WriteTimeoutMs(std::uint32_t length, std::uint32_t bitRate);

// Length of the file at `path`; 0 when the path is empty or the file cannot be opened.
std::uint64_t SendFileLength(const QString& path);

// Sends the file's bytes through `write` in chunks of up to 1024. Sends nothing when the port is
// not open or the file is empty or unreadable. A write that takes fewer bytes than its chunk is
// followed by `wait(500)` and ends the transfer, because the rest would go out shifted. The
// transfer also ends after as many bytes as the file held when it started, or at its end, or
// before the next chunk once `stop` (when given) returns true.
SendFileResult SendFile(const QString& path, bool portOpen, const ChunkWriter& write,
                        const std::function<void(int ms)>& wait,
                        const std::function<bool()>& stop = {});
