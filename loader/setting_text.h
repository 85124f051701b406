#pragma once
// Integer settings are stored as decimal text and read back as C's "%i" reads
// them: leading blanks skipped, an optional sign, then "0x" for hexadecimal, a
// leading 0 for octal, else decimal; whatever follows the number is ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The number at the start of `text`, or nothing when there is none or it does
// not fit into 32 bits.
std::optional<std::int32_t> ParseIntSetting(std::string_view text);

// The stored form of an integer setting: decimal text.
std::string FormatIntSetting(std::int32_t value);
