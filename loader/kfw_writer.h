// Writer of KFW firmware files, for making sample and test files.
#pragma once

#include "loader/kfw_file.h"

#include <cstdint>
#include <span>
#include <string>

namespace kfw {

struct KfwWriteOptions {
    int recordLength = 16;          // data bytes per record, 1..255
    std::uint32_t startAddress = 0; // address of the first image byte, 24 bits
    bool crlf = true;               // CR LF line ends, else LF
    bool endRecord = true;          // append the zero-length end record
};

// Bytes that the loader stores for `dataSize` image bytes cut into records of
// `recordLength` bytes, end record included.
long StoredImageSize(long dataSize, int recordLength);

// The text of a KFW file: one "Key: value" line per header key, then the data
// in records with checksums, then (unless disabled) the end record. Returns an
// empty string when the options are out of range or an address would not fit
// into 24 bits.
std::string FormatFirmwareFile(const FirmwareHeader& header, std::span<const std::uint8_t> data,
                               const KfwWriteOptions& options = {});

// Writes FormatFirmwareFile's text to `path`. Returns true on success.
bool WriteFirmwareFile(const std::string& path, const FirmwareHeader& header,
                       std::span<const std::uint8_t> data, const KfwWriteOptions& options = {});

} // namespace kfw
