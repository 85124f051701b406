#pragma once
// Finding bytes in the traffic list. The text typed is read as hexadecimal bytes, in either
// case and with any spacing ("B001", "B0 01" and "b0  01" are the same two bytes), and looked
// for on byte boundaries in the bytes of each line: not in its time-stamp prefix, and not
// across the dash of a raw line. All matching rows are known at once, so that the find bar can
// say "N of M"; lines added later are looked at as they come, and the last line is looked at
// again since raw mode fills it in place.

#include "monitor/traffic/traffic_filter.h"
#include "monitor/traffic/traffic_store.h"

#include <cstdint>
#include <string>
#include <vector>

// The bytes of a find pattern: every two hexadecimal digits in a row make a byte, a digit alone
// (before a blank or at the end) makes a byte of its own; all other characters are skipped.
std::vector<std::uint8_t> ParseFindPattern(const std::string& text);

class CTrafficFinder {
public:
    // The text to find; one without hexadecimal digits finds nothing.
    void SetPattern(const std::string& text);
    bool Empty() const { return m_pattern.empty(); }
    const std::vector<std::uint8_t>& Pattern() const { return m_pattern; }
    // Only lines the filter shows are found.
    void SetFilter(const FilterCriteria& criteria);

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
    std::vector<std::uint8_t> m_pattern;
    FilterCriteria m_filter;
    std::vector<std::int64_t> m_matches;
    std::int64_t m_final = 0; // rows before it are looked at and will not change
    std::uint64_t m_generation = 0;
    bool m_valid = false; // the matches belong to m_generation
};
