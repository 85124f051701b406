#include "monitor/send_file.h"

#include <QFile>
#include <algorithm>

namespace {
constexpr std::uint32_t kChunkBytes = 1024;
constexpr int kShortWriteWaitMs = 500;
} // namespace

std::uint64_t SendFileLength(const QString& path) {
    if (path.isEmpty())
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.isSequential() ? 0 : static_cast<std::uint64_t>(file.size());
}

SendFileResult SendFile(const QString& path, bool portOpen, const ChunkWriter& write,
                        const std::function<void(int ms)>& wait,
                        const std::function<bool()>& stop) {
    SendFileResult result;
    std::uint64_t remaining = SendFileLength(path);
    if (!portOpen || remaining == 0)
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;

    std::uint8_t chunk[kChunkBytes];
    while (remaining != 0) {
        if (stop && stop()) {
            result.stopped = true;
            break;
        }
        // Never more than the length taken at the start, even if the file has grown since.
        const auto want = static_cast<qint64>(std::min<std::uint64_t>(kChunkBytes, remaining));
        const qint64 got = file.read(reinterpret_cast<char*>(chunk), want);
        if (got <= 0)
            break; // end of the file, or it cannot be read any more
        const auto n = static_cast<std::uint32_t>(got);
        std::uint32_t written = 0;
        write(chunk, n, written);
        ++result.chunks;
        result.bytesSent += written;
        if (written != n) {
            wait(kShortWriteWaitMs);
            result.stoppedShort = true;
            break;
        }
        remaining -= n;
    }
    return result;
}

std::uint32_t WriteTimeoutMs(std::uint32_t length, std::uint32_t bitRate) {
    constexpr std::uint32_t kMinimumMs = 2000;
    if (bitRate == 0)
        return kMinimumMs;
    const std::uint64_t wireMs =
        (static_cast<std::uint64_t>(length) * 10 * 1000 + bitRate - 1) / bitRate;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(kMinimumMs, wireMs + 1000));
}
