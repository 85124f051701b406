#pragma once
// Made-up bus traffic for the monitor: valid messages of all four length classes, some with a
// wrong checksum or preceded by noise, as the options ask.

#include "tools/sim/sim_config.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

class CTraffic {
public:
    explicit CTraffic(const TrafficConfig& config);

    // Appends one message (and any noise before it) to `out`.
    void AppendMessage(std::vector<std::uint8_t>& out);

private:
    int Random(int low, int high); // inclusive
    bool Chance(double percent);

    TrafficConfig m_config;
    std::mt19937 m_rng;
};

// The bytes of a capture file, one entry per line. Lines are hexadecimal bytes separated by
// blanks, optionally after a "#nnnn = date time - " prefix; a lone '-' (the middle of a raw line)
// is skipped. Returns false with a message naming the line when the text is not such a file.
bool ParseCaptureText(const std::string& text, std::vector<std::vector<std::uint8_t>>& lines,
                      std::string& error);
