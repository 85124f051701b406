#include "monitor/traffic/traffic_finder.h"

#include <algorithm>
#include <cctype>
#include <string_view>

void CTrafficFinder::SetPattern(const std::string& text) {
    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == m_pattern)
        return;
    m_pattern = std::move(upper);
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
    std::string text;
    text.reserve(3 * TrafficLine::kMaxBytes + 2);
    const std::string_view pattern(m_pattern);
    store.Scan(m_final, store.Count() - 1, [&](std::int64_t row, const TrafficLine& line) {
        TrafficLine bytes = line;
        bytes.stamped = false; // the prefix is not searched
        text.clear();
        AppendLineText(bytes, text);
        if (std::string_view(text).find(pattern) != std::string_view::npos)
            m_matches.push_back(row);
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
