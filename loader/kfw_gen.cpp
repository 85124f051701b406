// kfw-gen: writes a sample KFW firmware file.
//
//   kfw-gen [--size N] [--record L] [--address A] [--input FILE] [--seed S]
//           [--lf] [--no-end] [--force] [--product N] ... [--last-address N] OUT
//
// The image is the bytes of FILE, or else N bytes of a fixed pattern.
// Numbers may be decimal or 0x-prefixed hexadecimal.
#include "loader/kfw_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Command-line option of each header key, in HeaderKeyNames order.
constexpr const char* kKeyOptions[kfw::kHeaderKeyCount] = {
    "--product",   "--bootloader",    "--hardware",     "--software", "--options",
    "--chunk",     "--delay",         "--manufacturer", "--prog-blk", "--erase-blk",
    "--erase-dly", "--first-address", "--last-address"};

void PrintUsage(std::FILE* out) {
    std::fputs("usage: kfw-gen [options] OUT.kfw\n"
               "  --size N        image bytes of a fixed pattern (default 4096)\n"
               "  --input FILE    take the image bytes from FILE instead\n"
               "  --seed S        varies the pattern (default 0)\n"
               "  --record L      data bytes per record, 1..255 (default 16)\n"
               "  --address A     address of the first byte (default 0)\n"
               "  --lf            LF line ends (default CR LF)\n"
               "  --no-end        leave out the end record (an invalid file)\n"
               "  --force         write even when the loader's buffer cannot hold it\n"
               "header values:\n",
               out);
    for (int i = 0; i < kfw::kHeaderKeyCount; ++i)
        std::fprintf(out, "  %-16s N  \"%s\"\n", kKeyOptions[i], kfw::HeaderKeyNames[i].data());
}

bool ParseNumber(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 0);
    return errno == 0 && end != text && *end == '\0';
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "kfw-gen: %s\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    kfw::FirmwareHeader header;
    kfw::KfwWriteOptions options;
    long size = 4096;
    long seed = 0;
    bool force = false;
    std::string input;
    std::string output;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (arg == "--lf") {
            options.crlf = false;
            continue;
        }
        if (arg == "--no-end") {
            options.endRecord = false;
            continue;
        }
        if (arg == "--force") {
            force = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!output.empty())
                return Fail("more than one output file");
            output = arg;
            continue;
        }
        if (i + 1 >= argc)
            return Fail(arg + " needs a value");
        const char* text = argv[++i];
        if (arg == "--input") {
            input = text;
            continue;
        }
        long value = 0;
        if (!ParseNumber(text, value))
            return Fail("not a number for " + arg + ": " + text);
        if (arg == "--size")
            size = value;
        else if (arg == "--seed")
            seed = value;
        else if (arg == "--record")
            options.recordLength = value >= 1 && value <= 255 ? static_cast<int>(value) : 0;
        else if (arg == "--address")
            options.startAddress = static_cast<std::uint32_t>(value);
        else {
            int key = 0;
            while (key < kfw::kHeaderKeyCount && arg != kKeyOptions[key])
                ++key;
            if (key == kfw::kHeaderKeyCount)
                return Fail("unknown option " + arg);
            if (value < INT32_MIN || value > INT32_MAX)
                return Fail(arg + " takes a 32-bit value");
            kfw::HeaderValue(header, key) = static_cast<std::int32_t>(value);
        }
    }
    if (output.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    // Addresses have 24 bits, so no image is larger than 16 MiB.
    if (size < 0 || size > 0x1000000 || options.recordLength == 0)
        return Fail("--size must be 0 to 16777216 and --record 1 to 255");

    std::vector<std::uint8_t> data;
    if (!input.empty()) {
        std::ifstream in(input, std::ios::binary);
        if (!in)
            return Fail("cannot read " + input);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        data.resize(static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 + i / 256 + static_cast<std::size_t>(seed));
    }

    const long stored = kfw::StoredImageSize(static_cast<long>(data.size()), options.recordLength);
    if (stored > kfw::kImageBufferSize && !force)
        return Fail("the loader stores " + std::to_string(stored) + " bytes for this image, more " +
                    "than its buffer of " + std::to_string(kfw::kImageBufferSize) +
                    " (use --force to write it anyway)");
    if (!kfw::WriteFirmwareFile(output, header, data, options))
        return Fail("cannot write " + output + " (or the addresses exceed 24 bits)");
    return 0;
}
