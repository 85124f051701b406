// Reader of KFW firmware files: header lines ("Key: value") followed by
// hexadecimal records with 24-bit addresses, ended by a zero-length record.
//
// The loader view owns the header, the info text and the image buffer; the
// functions here fill them through a FirmwareSink of references, so the view
// keeps its members and repeats none of the parsing.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kfw {

// Size of the view's image buffer; a file whose image needs more is invalid.
inline constexpr int kImageBufferSize = 0x40000;

// Layout of one stored record: length L, address bits 23..16, 15..8, 7..0,
// type, L data bytes, checksum. A record takes L + kRecordOverhead bytes;
// a zero-length record is stored as its single length byte and ends the image.
inline constexpr int kRecordLengthOffset = 0;
inline constexpr int kRecordAddressOffset = 1;
inline constexpr int kRecordTypeOffset = 4;
inline constexpr int kRecordDataOffset = 5;
inline constexpr int kRecordOverhead = 6;

inline constexpr int kHeaderKeyCount = 13;

// Header keys, in the order of the FirmwareHeader fields (see HeaderValue).
inline constexpr std::array<std::string_view, kHeaderKeyCount> HeaderKeyNames = {
    "Product",      "Bootloader", "Hardware",  "Software",  "Options",       "Chunk",       "Delay",
    "Manufacturer", "Prog Blk",   "Erase Blk", "Erase Dly", "First Address", "Last Address"};

// The numbers of a file's header. Default-constructed it holds the defaults
// that a key missing from the file keeps.
struct FirmwareHeader {
    std::int32_t product = 0;
    std::int32_t bootloader = 0;
    std::int32_t hardware = 0;
    std::int32_t software = 0;
    std::int32_t options = 0;
    std::int32_t chunk = 64;
    std::int32_t delay = 0;
    std::int32_t manufacturer = 255;
    std::int32_t progBlk = 0;
    std::int32_t eraseBlk = 0;
    std::int32_t eraseDly = 0;
    std::int32_t firstAddress = 0;
    std::int32_t lastAddress = 0;

    bool operator==(const FirmwareHeader&) const = default;
};

// The field that HeaderKeyNames[index] sets, 0 <= index < kHeaderKeyCount.
std::int32_t& HeaderValue(FirmwareHeader& header, int index);
std::int32_t HeaderValue(const FirmwareHeader& header, int index);

// The view's members that a load writes into. `image` points at a buffer of
// kImageBufferSize bytes (null before the view has allocated it).
struct FirmwareSink {
    FirmwareHeader& header; // m_header
    std::string& info;      // m_strInfo
    std::uint8_t* image;    // m_pImage
    int& imageLength;       // m_nImageLength
};

// The header summary shown by the loader view.
std::string FormatHeaderInfo(const FirmwareHeader& header);

// Reads the header from `file` (open in binary mode at its start), fills
// `header` and `info`, and leaves the file at the start of the first record
// line, or at its end when there is none. Returns 1.
int ParseFirmwareHeader(std::FILE* file, FirmwareHeader& header, std::string& info);

// Why a file did not load: the system's error text or the fault, and the line
// of the faulty record (0 when the fault is not one record's).
struct LoadProblem {
    std::string reason;
    int line = 0;
    bool unreadable = false; // the file could not be read at all: `reason` is the system's
};

// Reads a whole KFW file from `file` (open in binary mode at its start) into
// `sink`. Returns 0 when the file is valid, 1 when it is not; after a failure
// sink.imageLength is 0 and the header values read from the file remain, and
// `problem`, when given, says why.
int LoadFirmwareStream(std::FILE* file, const FirmwareSink& sink, LoadProblem* problem = nullptr);

// Opens the regular file `path` and loads it with LoadFirmwareStream. Returns
// 0 on success, 1 on failure. A file that cannot be opened leaves the header
// and info text as they were.
int LoadFirmwareFile(const std::string& path, const FirmwareSink& sink,
                     LoadProblem* problem = nullptr);

} // namespace kfw
