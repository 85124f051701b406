#pragma once
// Finding text in the traffic list. The text is looked for, as typed (hex digits in either
// case), in the bytes of each line, without its time-stamp prefix. All matching rows are known
// at once, so that the find bar can say "N of M"; lines added later are looked at as they come,
// and the last line is looked at again since raw mode fills it in place.

#include "monitor/traffic/traffic_store.h"

#include <cstdint>
#include <string>
#include <vector>

class CTrafficFinder {
public:
    // The text to find; empty finds nothing.
    void SetPattern(const std::string& text);
    const std::string& Pattern() const { return m_pattern; }

    // Brings the matches up to date with the lines that `store` holds.
    void Update(const CTrafficStore& store);

    const std::vector<std::int64_t>& Matches() const { return m_matches; }
    // The first matching row after `row` (or before it), wrapping around the end of the list;
    // -1 when nothing matches. Any row < 0 starts from the top (or the bottom).
    std::int64_t Next(std::int64_t row) const;
    std::int64_t Previous(std::int64_t row) const;
    // Position of `row` among the matches (0 for the first), -1 when it does not match.
    std::int64_t IndexOf(std::int64_t row) const;

private:
    std::string m_pattern;
    std::vector<std::int64_t> m_matches;
    std::int64_t m_final = 0; // rows before it are looked at and will not change
    std::uint64_t m_generation = 0;
    bool m_valid = false; // the matches belong to m_generation
};
