#include "monitor/pcap_writer.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
    // Little-endian, with the magic number in the same order, as readers expect.
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

} // namespace

CPcapWriter::~CPcapWriter() {
    Close();
}

bool CPcapWriter::Open(const QString& path) {
    Close();
    m_error.clear();
    m_file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (m_file == nullptr)
        return Fail(errno);
    return Start();
}

bool CPcapWriter::OpenDescriptor(int fd) {
    Close();
    m_error.clear();
    m_file = fdopen(fd, "wb");
    if (m_file == nullptr)
        return Fail(errno);
    return Start();
}

bool CPcapWriter::Start() {
    std::uint8_t header[24] = {};
    Put32(header, 0xA1B2C3D4);
    header[4] = 2; // version 2.4
    header[6] = 4;
    Put32(header + 16, kSnapLength);
    Put32(header + 20, kLinkTypeUser0);
    errno = 0;
    if (std::fwrite(header, 1, sizeof header, m_file) != sizeof header)
        return Fail(errno);
    return true;
}

bool CPcapWriter::WritePacket(std::int64_t epochUs, const std::uint8_t* bytes, int count) {
    if (m_file == nullptr)
        return false;
    if (count < 0)
        count = 0;
    if (epochUs < 0)
        epochUs = 0;
    std::uint8_t record[16];
    Put32(record, static_cast<std::uint32_t>(epochUs / 1000000));
    Put32(record + 4, static_cast<std::uint32_t>(epochUs % 1000000));
    Put32(record + 8, static_cast<std::uint32_t>(count));
    Put32(record + 12, static_cast<std::uint32_t>(count));
    errno = 0;
    if (std::fwrite(record, 1, sizeof record, m_file) != sizeof record ||
        std::fwrite(bytes, 1, static_cast<std::size_t>(count), m_file) !=
            static_cast<std::size_t>(count))
        return Fail(errno);
    return true;
}

bool CPcapWriter::Flush() {
    if (m_file == nullptr)
        return false;
    errno = 0;
    if (std::fflush(m_file) != 0)
        return Fail(errno);
    return true;
}

bool CPcapWriter::Close() {
    if (m_file == nullptr)
        return m_error.isEmpty();
    errno = 0;
    const bool ok = std::fclose(m_file) == 0;
    const int error = errno;
    m_file = nullptr;
    if (!ok) {
        m_error = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
        return false;
    }
    return m_error.isEmpty();
}

bool CPcapWriter::Fail(int error) {
    m_error = QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO));
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = nullptr;
    return false;
}
