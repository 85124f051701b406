#include "monitor/send_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <vector>

namespace {

QString MakeFile(const QTemporaryDir& dir, const QByteArray& content) {
    const QString path = dir.filePath("send.bin");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
}

QByteArray Pattern(int size) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 13);
    return bytes;
}

// Records each chunk; takes at most `takes` bytes of a chunk.
struct Port {
    std::vector<QByteArray> chunks;
    std::uint32_t takes = 0xFFFFFFFF;
    std::vector<int> waits;

    ChunkWriter Writer() {
        return [this](const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) {
            chunks.emplace_back(reinterpret_cast<const char*>(data), static_cast<int>(n));
            written = std::min(n, takes);
            return written == n ? 0 : 1460;
        };
    }
    std::function<void(int)> Wait() {
        return [this](int ms) { waits.push_back(ms); };
    }
    QByteArray All() const {
        QByteArray all;
        for (const QByteArray& c : chunks)
            all += c;
        return all;
    }
};

TEST(SendFile, TwoBytesGoOutExactly) {
    QTemporaryDir dir;
    Port port;
    const SendFileResult r =
        SendFile(MakeFile(dir, QByteArray("\x83\x7C", 2)), true, port.Writer(), port.Wait());
    EXPECT_EQ(port.All(), QByteArray("\x83\x7C", 2));
    EXPECT_EQ(r.bytesSent, 2u);
    EXPECT_FALSE(r.stoppedShort);
}

TEST(SendFile, GoesOutInChunksOf1024) {
    QTemporaryDir dir;
    Port port;
    const QByteArray content = Pattern(2500);
    SendFile(MakeFile(dir, content), true, port.Writer(), port.Wait());
    ASSERT_EQ(port.chunks.size(), 3u);
    EXPECT_EQ(port.chunks[0].size(), 1024);
    EXPECT_EQ(port.chunks[1].size(), 1024);
    EXPECT_EQ(port.chunks[2].size(), 452);
    EXPECT_EQ(port.All(), content);
    EXPECT_TRUE(port.waits.empty());
}

TEST(SendFile, NothingWithClosedPortEmptyFileOrMissingFile) {
    QTemporaryDir dir;
    Port port;
    SendFile(MakeFile(dir, Pattern(10)), false, port.Writer(), port.Wait());
    SendFile(MakeFile(dir, QByteArray()), true, port.Writer(), port.Wait());
    SendFile(dir.filePath("gone.cap"), true, port.Writer(), port.Wait());
    SendFile(QString(), true, port.Writer(), port.Wait());
    EXPECT_TRUE(port.chunks.empty());
}

TEST(SendFile, ShortWriteWaitsAndStops) {
    QTemporaryDir dir;
    Port port;
    port.takes = 1000;
    const SendFileResult r =
        SendFile(MakeFile(dir, Pattern(2500)), true, port.Writer(), port.Wait());
    EXPECT_EQ(port.chunks.size(), 1u);
    EXPECT_EQ(port.waits, std::vector<int>{500});
    EXPECT_TRUE(r.stoppedShort);
    EXPECT_EQ(r.bytesSent, 1000u);
}

TEST(SendFile, StopEndsTheTransferBeforeTheNextChunk) {
    QTemporaryDir dir;
    Port port;
    const SendFileResult r = SendFile(MakeFile(dir, Pattern(5000)), true, port.Writer(),
                                      port.Wait(), [&] { return port.chunks.size() == 2; });
    EXPECT_EQ(port.chunks.size(), 2u);
    EXPECT_EQ(port.All(), Pattern(2048));
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.stoppedShort);
    EXPECT_EQ(r.bytesSent, 2048u);
    EXPECT_TRUE(port.waits.empty());
}

TEST(SendFile, WriteTimeOutCoversTheChunksWireTimeAtLowRates) {
    EXPECT_EQ(WriteTimeoutMs(1024, 16457), 2000u);
    EXPECT_EQ(WriteTimeoutMs(16, 1200), 2000u);
    // 1024 bytes at 1200 bit/s are 8534 ms on the line, at 4800 bit/s 2134 ms.
    EXPECT_EQ(WriteTimeoutMs(1024, 1200), 9534u);
    EXPECT_EQ(WriteTimeoutMs(1024, 4800), 3134u);
    EXPECT_EQ(WriteTimeoutMs(1024, 0), 2000u);
}

TEST(SendFile, LengthIsZeroForDevicesAndMissingFiles) {
    EXPECT_EQ(SendFileLength("/dev/zero"), 0u);
    EXPECT_EQ(SendFileLength(QString()), 0u);
    QTemporaryDir dir;
    EXPECT_EQ(SendFileLength(MakeFile(dir, Pattern(77))), 77u);
}

} // namespace
