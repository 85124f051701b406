#include "monitor/traffic/traffic_filter.h"

#include <algorithm>

bool FilterCriteria::Passes(const TrafficLine& line) const {
    if (opcode >= 0 &&
        (line.kind != TrafficLine::Kind::Message || line.length < 1 || line.bytes[0] != opcode))
        return false;
    if (kind && (KindOfLine(line) == *kind) != (mode == Mode::Only))
        return false;
    return true;
}

void CTrafficFilter::SetCriteria(const FilterCriteria& criteria) {
    if (criteria == m_criteria)
        return;
    m_criteria = criteria;
    m_valid = false;
}

void CTrafficFilter::Update(const CTrafficStore& store) {
    if (!m_valid || m_generation != store.Generation() || m_seen > store.Count()) {
        m_rows.clear();
        m_seen = 0;
        m_generation = store.Generation();
        m_valid = true;
    }
    if (!Active()) {
        m_rows.clear();
        m_seen = store.Count();
        return;
    }
    // The last row looked at may have been replaced since.
    const std::int64_t from = std::max<std::int64_t>(0, m_seen - 1);
    while (!m_rows.empty() && m_rows.back() >= from)
        m_rows.pop_back();
    store.Scan(from, store.Count() - 1, [&](std::int64_t row, const TrafficLine& line) {
        if (m_criteria.Passes(line))
            m_rows.push_back(static_cast<std::uint32_t>(row));
    });
    m_seen = store.Count();
}

std::int64_t CTrafficFilter::ShownRow(std::int64_t storeRow) const {
    if (!Active())
        return std::min(storeRow, m_seen - 1);
    if (m_rows.empty())
        return -1;
    const auto it = std::upper_bound(m_rows.begin(), m_rows.end(), storeRow);
    return it == m_rows.begin() ? 0 : (it - m_rows.begin()) - 1;
}
