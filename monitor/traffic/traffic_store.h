#pragma once
// Compact storage for the lines of the traffic list. A long capture at full bus load adds
// millions of lines, so each line is kept as a few bytes (header, optional prefix values,
// the line's bytes) in large chunks, with one position remembered per block of lines;
// the text is made only when a line is looked at.

#include "monitor/traffic/traffic_line.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CTrafficStore {
public:
    CTrafficStore();
    ~CTrafficStore();
    CTrafficStore(const CTrafficStore&) = delete;
    CTrafficStore& operator=(const CTrafficStore&) = delete;

    std::int64_t Count() const { return m_count; }
    void Append(const TrafficLine& line);
    // Replaces the last line; appends when there is none.
    void ReplaceLast(const TrafficLine& line);
    void Clear();

    TrafficLine Line(std::int64_t row) const; // row in 0 .. Count()-1
    // Calls `visit` with the rows first .. last (clamped to the lines held) in order, walking
    // the records once instead of finding each row anew.
    void Scan(std::int64_t first, std::int64_t last,
              const std::function<void(std::int64_t, const TrafficLine&)>& visit) const;
    // Changes with every Clear, so that a reader of rows can tell new lines from old ones.
    std::uint64_t Generation() const { return m_generation; }
    std::string Text(std::int64_t row) const;

    // Bytes held in chunks and index, for the memory figures of the benchmark.
    std::size_t MemoryBytes() const;

private:
    static constexpr std::size_t kChunkSize = 256 * 1024;
    static constexpr int kBlockShift = 6; // one stored position per 64 lines
    static constexpr std::size_t kMaxRecord = 1 + 4 + 7 + TrafficLine::kMaxBytes;

    std::size_t RecordAt(std::uint64_t pos, TrafficLine* line) const;
    std::uint64_t NextRecord(std::uint64_t pos) const;
    void RemoveLast();

    std::vector<std::unique_ptr<std::uint8_t[]>> m_chunks;
    std::vector<std::size_t> m_chunkUsed;
    std::vector<std::uint64_t> m_blockStart; // position of line k << kBlockShift
    std::uint64_t m_lastPos = 0;             // position of the last line
    std::int64_t m_count = 0;
    std::uint64_t m_generation = 0;
};
