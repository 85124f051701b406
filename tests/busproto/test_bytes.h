#pragma once
// Hex byte strings for readable expectations: "E5 10 7F" -> {0xE5, 0x10, 0x7F}.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::uint8_t> bytes;
    unsigned v;
    while (in >> std::hex >> v)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}
