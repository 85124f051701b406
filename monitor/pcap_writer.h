#pragma once
// A pcap file (the classic format with microsecond time stamps) of Trakbus frames, one packet
// per frame, under the link type for private use USER0 (147), which the Trakbus dissector for
// Wireshark claims.

#include <QString>
#include <cstdint>
#include <cstdio>

class CPcapWriter {
public:
    static constexpr std::uint32_t kLinkTypeUser0 = 147;
    static constexpr std::uint32_t kSnapLength = 256; // a frame is at most 33 bytes

    CPcapWriter() = default;
    ~CPcapWriter();
    CPcapWriter(const CPcapWriter&) = delete;
    CPcapWriter& operator=(const CPcapWriter&) = delete;

    // Creates the file (an existing one is replaced) and writes the file header.
    bool Open(const QString& path);
    // Writes to an open descriptor, such as the pipe that Wireshark reads a live capture from.
    // The descriptor is closed with the writer.
    bool OpenDescriptor(int fd);
    bool IsOpen() const { return m_file != nullptr; }
    // One packet; `epochUs` is the time in microseconds since 1970 (UTC), 0 when unknown.
    bool WritePacket(std::int64_t epochUs, const std::uint8_t* bytes, int count);
    bool Flush();
    // False when the last packets could not be written.
    bool Close();
    const QString& Error() const { return m_error; }

private:
    bool Start();
    bool Fail(int error);

    std::FILE* m_file = nullptr;
    QString m_error;
};
