#include "tools/sim/traffic.h"

#include "busproto/checksum.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

CTraffic::CTraffic(const TrafficConfig& config) : m_config(config), m_rng(config.seed) {}

int CTraffic::Random(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(m_rng);
}

bool CTraffic::Chance(double percent) {
    return percent > 0 && std::uniform_real_distribution<double>(0, 100)(m_rng) < percent;
}

void CTraffic::AppendMessage(std::vector<std::uint8_t>& out) {
    if (Chance(m_config.noisePercent))
        for (int n = Random(1, 4); n > 0; --n)
            out.push_back(static_cast<std::uint8_t>(Random(0, 0xFF)));

    const std::size_t start = out.size();
    const int lengthClass = Random(0, 3);
    const auto opcode = static_cast<std::uint8_t>(0x80 | lengthClass << 5 | Random(0, 0x1F));
    out.push_back(opcode);
    // Variable-length messages from 4 to 31 bytes: the receive assembler judges a shorter one by
    // the byte after it, and after one of 32 bytes it drops the next opcode, so the monitor would
    // not show every message as sent.
    const int length = lengthClass == 3 ? Random(4, 31) : BusMessageLength(opcode);
    if (lengthClass == 3)
        out.push_back(static_cast<std::uint8_t>(length));
    while (static_cast<int>(out.size() - start) < length - 1)
        out.push_back(static_cast<std::uint8_t>(Random(0, 0x7F)));
    std::uint8_t checksum = ComputeChecksum(length - 1, out.data() + start) & 0x7F;
    if (Chance(m_config.badPercent))
        checksum ^= static_cast<std::uint8_t>(Random(1, 0x7F));
    out.push_back(checksum);
}

bool ParseCaptureText(const std::string& text, std::vector<std::vector<std::uint8_t>>& lines,
                      std::string& error) {
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::size_t from = 0;
        if (!line.empty() && line[0] == '#') {
            from = line.find(" - ");
            if (from == std::string::npos) {
                error = "line " + std::to_string(number) + ": time-stamp prefix without \" - \"";
                return false;
            }
            from += 3;
        }
        std::istringstream words(line.substr(from));
        std::vector<std::uint8_t> bytes;
        std::string word;
        while (words >> word) {
            if (word == "-")
                continue;
            if (word.size() > 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
                !std::isxdigit(static_cast<unsigned char>(word.back()))) {
                error = "line " + std::to_string(number) + ": \"" + word +
                        "\" is not a hexadecimal byte";
                return false;
            }
            const unsigned long value = std::strtoul(word.c_str(), nullptr, 16);
            bytes.push_back(static_cast<std::uint8_t>(value));
        }
        if (!bytes.empty())
            lines.push_back(std::move(bytes));
    }
    return true;
}
