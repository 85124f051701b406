#pragma once
// Which lines of the traffic list are shown: all, or only those of a chosen kind, all but those
// of a kind, and/or only messages with a chosen opcode. The filter narrows the view only; the
// store keeps every line. The rows shown are kept as a list of store rows, brought up to date
// with the lines added since the last look (and the last line again, which raw mode fills in
// place), so that a filter costs one pass over the store when it is set and little after.

#include "monitor/traffic/line_kind.h"
#include "monitor/traffic/traffic_store.h"

#include <cstdint>
#include <optional>
#include <vector>

struct FilterCriteria {
    enum class Mode : std::uint8_t { Only, Hide };

    std::optional<LineKind> kind;
    Mode mode = Mode::Only;
    int opcode = -1; // 0x80..0xFF: only messages with this opcode; -1: any

    bool Active() const { return kind.has_value() || opcode >= 0; }
    bool Passes(const TrafficLine& line) const;
    bool operator==(const FilterCriteria&) const = default;
};

class CTrafficFilter {
public:
    void SetCriteria(const FilterCriteria& criteria);
    const FilterCriteria& Criteria() const { return m_criteria; }
    bool Active() const { return m_criteria.Active(); }

    // Brings the rows shown up to date with the lines that `store` holds.
    void Update(const CTrafficStore& store);

    // Rows shown; all of the store's when no filter is set.
    std::int64_t Count() const { return Active() ? std::int64_t(m_rows.size()) : m_seen; }
    // The store row of shown row `row`; -1 when there is no such row.
    std::int64_t StoreRow(std::int64_t row) const {
        if (!Active())
            return row;
        return row >= 0 && row < std::int64_t(m_rows.size()) ? std::int64_t(m_rows[row]) : -1;
    }
    // The shown row of store row `storeRow`, or of the nearest shown line before it (the first
    // shown line when none lies before it); -1 when nothing is shown.
    std::int64_t ShownRow(std::int64_t storeRow) const;

private:
    FilterCriteria m_criteria;
    std::vector<std::uint32_t> m_rows; // store rows shown, ascending
    std::int64_t m_seen = 0;           // store rows looked at
    std::uint64_t m_generation = 0;
    bool m_valid = false;
};
