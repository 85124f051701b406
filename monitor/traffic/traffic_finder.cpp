#include "monitor/traffic/traffic_finder.h"

#include <algorithm>
#include <cctype>
#include <cstring>

std::vector<std::uint8_t> ParseFindPattern(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int digits = 0; // digits of the byte under way
    for (char c : text) {
        const int value = std::isxdigit(static_cast<unsigned char>(c))
                              ? (std::isdigit(static_cast<unsigned char>(c))
                                     ? c - '0'
                                     : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10)
                              : -1;
        if (value < 0) {
            digits = 0;
        } else if (digits == 1) {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() * 16 + value);
            digits = 0;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(value));
            digits = 1;
        }
    }
    return bytes;
}

void CTrafficFinder::SetPattern(const std::string& text) {
    std::vector<std::uint8_t> pattern = ParseFindPattern(text);
    if (pattern == m_pattern)
        return;
    m_pattern = std::move(pattern);
    m_valid = false;
}

void CTrafficFinder::SetFilter(const FilterCriteria& criteria) {
    if (criteria == m_filter)
        return;
    m_filter = criteria;
    m_valid = false;
}

void CTrafficFinder::Update(const CTrafficStore& store) {
    if (!m_valid || m_generation != store.Generation() || m_final > store.Count()) {
        m_matches.clear();
        m_final = 0;
        m_generation = store.Generation();
        m_valid = true;
    }
    if (m_pattern.empty())
        return;
    // The last row looked at may have been replaced since.
    while (!m_matches.empty() && m_matches.back() >= m_final)
        m_matches.pop_back();
    const std::uint8_t* pattern = m_pattern.data();
    const int size = static_cast<int>(m_pattern.size());
    const bool filtered = m_filter.Active();
    store.Scan(m_final, store.Count() - 1, [&](std::int64_t row, const TrafficLine& line) {
        if (filtered && !m_filter.Passes(line))
            return;
        for (int at = 0; at + size <= line.length; ++at) {
            if (std::memcmp(line.bytes + at, pattern, static_cast<std::size_t>(size)) == 0) {
                m_matches.push_back(row);
                return;
            }
        }
    });
    m_final = std::max<std::int64_t>(0, store.Count() - 1);
}

std::int64_t CTrafficFinder::Next(std::int64_t row) const {
    if (m_matches.empty())
        return -1;
    const auto it = std::upper_bound(m_matches.begin(), m_matches.end(), row);
    return it != m_matches.end() ? *it : m_matches.front();
}

std::int64_t CTrafficFinder::Previous(std::int64_t row) const {
    if (m_matches.empty())
        return -1;
    if (row < 0)
        return m_matches.back();
    const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), row);
    return it != m_matches.begin() ? *(it - 1) : m_matches.back();
}

std::int64_t CTrafficFinder::IndexOf(std::int64_t row) const {
    const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), row);
    return it != m_matches.end() && *it == row ? it - m_matches.begin() : -1;
}
