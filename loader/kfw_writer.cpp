#include "loader/kfw_writer.h"

#include <algorithm>
#include <cstdio>

namespace kfw {
namespace {

constexpr std::uint32_t kMaxAddress = 0xFFFFFF;

void AppendHexByte(std::string& text, std::uint32_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[(byte >> 4) & 0xF];
    text += kDigits[byte & 0xF];
}

// One record line: ':', length, address, type 0, data, checksum.
void AppendRecord(std::string& text, std::uint32_t address, std::span<const std::uint8_t> data,
                  const char* lineEnd) {
    std::uint32_t sum =
        static_cast<std::uint32_t>(data.size()) + (address >> 16) + (address >> 8) + address;
    text += ':';
    AppendHexByte(text, static_cast<std::uint32_t>(data.size()));
    AppendHexByte(text, address >> 16);
    AppendHexByte(text, address >> 8);
    AppendHexByte(text, address);
    AppendHexByte(text, 0);
    for (std::uint8_t byte : data) {
        AppendHexByte(text, byte);
        sum += byte;
    }
    AppendHexByte(text, (0x100 - (sum & 0xFF)) & 0xFF);
    text += lineEnd;
}

} // namespace

long StoredImageSize(long dataSize, int recordLength) {
    if (recordLength <= 0)
        return 0;
    const long records = (dataSize + recordLength - 1) / recordLength;
    return dataSize + records * kRecordOverhead + 1;
}

std::string FormatFirmwareFile(const FirmwareHeader& header, std::span<const std::uint8_t> data,
                               const KfwWriteOptions& options) {
    if (options.recordLength < 1 || options.recordLength > 255 ||
        options.startAddress > kMaxAddress ||
        (!data.empty() && data.size() - 1 > kMaxAddress - options.startAddress))
        return {};
    const char* lineEnd = options.crlf ? "\r\n" : "\n";
    std::string text;
    text.reserve(128 + data.size() * 2 + data.size() / options.recordLength * 16);
    for (int i = 0; i < kHeaderKeyCount; ++i) {
        text += HeaderKeyNames[i];
        text += ": " + std::to_string(HeaderValue(header, i)) + lineEnd;
    }
    const auto recordLength = static_cast<std::size_t>(options.recordLength);
    for (std::size_t offset = 0; offset < data.size(); offset += recordLength) {
        const auto address = options.startAddress + static_cast<std::uint32_t>(offset);
        AppendRecord(text, address,
                     data.subspan(offset, std::min(recordLength, data.size() - offset)), lineEnd);
    }
    if (options.endRecord)
        AppendRecord(text, 0, {}, lineEnd);
    return text;
}

bool WriteFirmwareFile(const std::string& path, const FirmwareHeader& header,
                       std::span<const std::uint8_t> data, const KfwWriteOptions& options) {
    const std::string text = FormatFirmwareFile(header, data, options);
    if (text.empty())
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

} // namespace kfw
