// Writes arbitrary header values and data as a KFW file, loads it back and
// requires the same header and the data in records of the chosen length.
#include "loader/kfw_file.h"
#include "loader/kfw_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Input: 13 header values (4 bytes each), record length, flags, then data.
constexpr std::size_t kPrefix = kfw::kHeaderKeyCount * 4 + 2;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kPrefix)
        return 0;
    kfw::FirmwareHeader source;
    for (int i = 0; i < kfw::kHeaderKeyCount; ++i) {
        std::uint32_t value = 0;
        std::memcpy(&value, data + i * 4, 4);
        kfw::HeaderValue(source, i) = static_cast<std::int32_t>(value);
    }
    kfw::KfwWriteOptions options;
    options.recordLength = std::max(1, static_cast<int>(data[kPrefix - 2]));
    options.crlf = data[kPrefix - 1] & 1;
    options.startAddress = (data[kPrefix - 1] & 0xF0u) << 16;
    std::span<const std::uint8_t> payload(data + kPrefix, size - kPrefix);
    while (kfw::StoredImageSize(static_cast<long>(payload.size()), options.recordLength) >
           kfw::kImageBufferSize)
        payload = payload.first(payload.size() - 1);

    const std::string text = kfw::FormatFirmwareFile(source, payload, options);
    Require(!text.empty());
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    Require(file != nullptr);
    static const std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[kfw::kImageBufferSize]);
    kfw::FirmwareHeader header;
    std::string info;
    int length = -1;
    const int result = kfw::LoadFirmwareStream(file, {header, info, image.get(), length});
    std::fclose(file);

    Require(result == 0);
    Require(header == source);
    Require(length ==
            kfw::StoredImageSize(static_cast<long>(payload.size()), options.recordLength));
    std::size_t offset = 0;
    for (std::size_t done = 0; done < payload.size();) {
        const std::size_t l = image[offset];
        Require(l == std::min<std::size_t>(options.recordLength, payload.size() - done));
        const std::uint32_t address =
            (image[offset + 1] << 16) | (image[offset + 2] << 8) | image[offset + 3];
        Require(address == options.startAddress + done);
        Require(std::memcmp(&image[offset + kfw::kRecordDataOffset], &payload[done], l) == 0);
        done += l;
        offset += l + kfw::kRecordOverhead;
    }
    Require(image[offset] == 0 && static_cast<int>(offset) + 1 == length);
    return 0;
}
