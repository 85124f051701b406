#include "busproto/checksum.h"
#include "monitor/capture_file.h"
#include "monitor/capture_reader.h"
#include "monitor/pcap_export.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <random>

namespace {

TrafficLine Message(std::vector<std::uint8_t> bytes) {
    return TrafficLine::Message(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<CaptureLine> ReadAll(const QString& path) {
    CCaptureReader reader;
    EXPECT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    std::vector<CaptureLine> lines;
    CaptureLine line;
    while (reader.Next(line))
        lines.push_back(line);
    EXPECT_TRUE(reader.Error().isEmpty());
    return lines;
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

TEST(CaptureReader, ReadsBackWhatTheMonitorWroteLineForLine) {
    // Messages of every length class, with and without the prefix, and raw lines, through the
    // capture file's own writer.
    std::mt19937 random(3);
    std::vector<TrafficLine> written;
    for (int i = 0; i < 300; ++i) {
        if (i % 3 == 2) {
            std::uint8_t raw[20];
            for (std::uint8_t& b : raw)
                b = static_cast<std::uint8_t>(random());
            written.push_back(TrafficLine::Raw(raw, 20));
            continue;
        }
        const std::uint8_t opcode = static_cast<std::uint8_t>(0x80 | (random() & 0x7F));
        std::vector<std::uint8_t> m = {opcode};
        const int length =
            (opcode & 0xE0) == 0xE0 ? 4 + int(random() % 29) : BusMessageLength(opcode);
        if ((opcode & 0xE0) == 0xE0)
            m.push_back(static_cast<std::uint8_t>(length));
        while (int(m.size()) < length - 1)
            m.push_back(random() & 0x7F);
        m.push_back(ComputeChecksum(int(m.size()), m.data()));
        TrafficLine line = Message(m);
        if (i % 3 == 1) {
            line.stamped = true;
            line.number = i == 4 ? -2147483647 : i * 997; // wrapped and five-digit numbers too
            line.time = StampFromEpochMs(1796582930120 + i * 37);
        }
        written.push_back(line);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Capture.cap");
    CCaptureFile file;
    ASSERT_TRUE(file.Open(path));
    for (const TrafficLine& line : written)
        ASSERT_TRUE(file.WriteLine(LineText(line)));
    ASSERT_TRUE(file.Close());

    const std::vector<CaptureLine> read = ReadAll(path);
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(LineText(written[i]));
        EXPECT_EQ(read[i].mark, LineMark::Good) << read[i].reason;
        EXPECT_EQ(read[i].line.kind, written[i].kind);
        EXPECT_EQ(read[i].line.stamped, written[i].stamped);
        EXPECT_EQ(read[i].line.number, written[i].number);
        EXPECT_EQ(LineText(read[i].line), LineText(written[i]));
    }
}

TEST(CaptureReader, DamagedAndForeignLinesAreMarkedAndReadingGoesOn) {
    QTemporaryDir dir;
    const QString path = dir.filePath("damaged.cap");
    const QByteArray overlong(5000, 'A');
    WriteFile(path, "83 7D \r\n"                                  // bad checksum
                    "A1 01 02 \r\n"                               // one byte short
                    "01 02 03 \r\n"                               // no opcode
                    "83 85 7C \r\n"                               // an opcode inside
                    "#0001 = 13/45/2026 99:00:00.00 - 83 7C \r\n" // impossible time
                    "00 01 02 03 04 05 06 07 08 - 09 0A \r\n"     // raw line cut
                    "hello, bus\r\n"
                    "\r\n" +
                        overlong + "\r\n" + QByteArray("83\0007C\r\n", 7) +
                        "83 7c\n" // lower case, LF only, no blank: still good
                        "81 7E"); // no line end at the end
    const std::vector<CaptureLine> lines = ReadAll(path);
    ASSERT_EQ(lines.size(), 12u);
    const std::vector<std::pair<LineMark, std::string>> expected = {
        {LineMark::Damaged, "bad checksum"},
        {LineMark::Damaged, "wrong length for its opcode"},
        {LineMark::Damaged, "no opcode at the start"},
        {LineMark::Damaged, "an opcode inside the message"},
        {LineMark::Damaged, "unreadable time stamp"},
        {LineMark::Damaged, "raw line not of 10 and 10 bytes"},
        {LineMark::Foreign, "not a line of hexadecimal bytes"},
        {LineMark::Foreign, "empty line"},
        {LineMark::Foreign, "line too long"},
        {LineMark::Foreign, "not a line of hexadecimal bytes"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].mark, expected[i].first);
        EXPECT_STREQ(lines[i].reason, expected[i].second.c_str());
    }
    // Damaged lines keep their bytes, foreign ones their text.
    EXPECT_EQ(LineText(lines[0].line), "83 7D ");
    EXPECT_EQ(LineText(lines[4].line), "83 7C ");
    EXPECT_EQ(lines[5].line.kind, TrafficLine::Kind::Raw);
    EXPECT_EQ(lines[5].line.length, 11);
    EXPECT_EQ(lines[6].text, "hello, bus");
    EXPECT_EQ(lines[8].text.size(), CCaptureReader::kMaxLineLength);
    EXPECT_EQ(lines[10].mark, LineMark::Good);
    EXPECT_EQ(LineText(lines[10].line), "83 7C ");
    EXPECT_EQ(LineText(lines[11].line), "81 7E ");

    CCaptureReader missing;
    EXPECT_FALSE(missing.Open(dir.filePath("no-such.cap")));
    EXPECT_FALSE(missing.Error().isEmpty());
}

TEST(PcapExport, OnePacketPerMessageAndRawLinesJoinedIntoFrames) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.pcap");
    CPcapWriter writer;
    ASSERT_TRUE(writer.Open(path));
    CPcapExport exporter(writer);
    TrafficLine stamped = Message({0x83, 0x7C});
    stamped.stamped = true;
    stamped.time = StampFromEpochMs(1796582930120);
    ASSERT_TRUE(exporter.Add(stamped));
    // A six-byte message across two raw lines, then bytes of a message the end cuts short.
    std::uint8_t first[20] = {};
    std::uint8_t second[20] = {};
    const std::uint8_t c6[6] = {0xC6, 1, 2,
                                3,    4, static_cast<std::uint8_t>(~(0xC6 ^ 1 ^ 2 ^ 3 ^ 4) & 0x7F)};
    std::memcpy(first + 17, c6, 3);
    std::memcpy(second, c6 + 3, 3);
    second[19] = 0x81;
    ASSERT_TRUE(exporter.Add(TrafficLine::Raw(first, 20)));
    ASSERT_TRUE(exporter.Add(TrafficLine::Raw(second, 20)));
    ASSERT_TRUE(exporter.Finish());
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(exporter.Packets(), 5); // 83 7C, 17 zeros, C6..., 16 zeros, 81

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray pcap = f.readAll();
    ASSERT_GE(pcap.size(), 24);
    EXPECT_EQ(pcap.left(4), QByteArray("\xD4\xC3\xB2\xA1", 4));
    EXPECT_EQ(static_cast<unsigned char>(pcap[20]), 147); // USER0
    auto u32 = [&](int at) {
        return std::uint32_t(std::uint8_t(pcap[at])) |
               std::uint32_t(std::uint8_t(pcap[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(pcap[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(pcap[at + 3])) << 24;
    };
    std::vector<QByteArray> packets;
    std::vector<std::int64_t> times;
    for (int at = 24; at + 16 <= pcap.size();) {
        const int length = static_cast<int>(u32(at + 8));
        times.push_back(std::int64_t(u32(at)) * 1000000 + u32(at + 4));
        packets.push_back(pcap.mid(at + 16, length));
        at += 16 + length;
    }
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(times[0], EpochUsOfStamp(stamped.time));
    EXPECT_EQ(times[0] % 1000000, 120000);
    EXPECT_EQ(packets[0], QByteArray("\x83\x7C", 2));
    EXPECT_EQ(packets[1], QByteArray(17, '\0'));
    EXPECT_EQ(packets[2], QByteArray(reinterpret_cast<const char*>(c6), 6));
    EXPECT_EQ(times[2], 0); // raw lines carry no time
    EXPECT_EQ(packets[4], QByteArray("\x81", 1));
}
