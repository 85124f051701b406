// Loads arbitrary bytes as a KFW file. A load either fails with an empty image
// or yields records that the transfer engine can walk to an end record
// without leaving the image; nothing is written past the buffer (ASan).
#include "loader/kfw_file.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Every record up to the first zero length byte is a whole type-0 record
// with a zero byte sum, and that end byte lies inside the image.
bool RecordsEndInsideImage(const std::uint8_t* image, int length) {
    int offset = 0;
    while (offset < length && image[offset] != 0) {
        const int end = offset + image[offset] + kfw::kRecordOverhead;
        if (end > length || image[offset + kfw::kRecordTypeOffset] != 0)
            return false;
        unsigned sum = 0;
        for (int i = offset; i < end; ++i)
            sum += image[i];
        if ((sum & 0xFF) != 0)
            return false;
        offset = end;
    }
    return offset < length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A memory file reached by path, so that the whole open-and-load path runs.
    static const int fd = memfd_create("kfw-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // Exactly the buffer's size, so that ASan sees any write beyond it.
    static const std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[kfw::kImageBufferSize]);
    Require(fd >= 0);
    Require(ftruncate(fd, 0) == 0);
    Require(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    kfw::FirmwareHeader header;
    std::string info;
    int length = -1;
    const int result = kfw::LoadFirmwareFile(path, {header, info, image.get(), length});

    Require(result == 0 || result == 1);
    Require(length >= 0 && length <= kfw::kImageBufferSize);
    Require(info == kfw::FormatHeaderInfo(header));
    if (result == 1)
        Require(length == 0);
    else
        Require(RecordsEndInsideImage(image.get(), length));
    return 0;
}
