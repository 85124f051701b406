#include "monitor/traffic/traffic_store.h"

#include <algorithm>
#include <cstring>

// Record layout: one header byte (bits 0-5 byte count, bit 6 raw line, bit 7 time-stamped),
// then for a time-stamped line the message number (4 bytes) and the packed time (7 bytes),
// then the line's bytes. A position is chunk index * kChunkSize + offset.

namespace {

constexpr std::uint8_t kRawFlag = 0x40;
constexpr std::uint8_t kStampFlag = 0x80;
constexpr std::uint8_t kLengthMask = 0x3F;
constexpr std::size_t kStampBytes = 4 + 7;

std::uint64_t PackTime(const StampTime& t) {
    auto field = [](int value, int bits) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(value) & ((1u << bits) - 1));
    };
    return field(t.year, 16) | field(t.month, 4) << 16 | field(t.day, 5) << 20 |
           field(t.hour, 5) << 25 | field(t.minute, 6) << 30 | field(t.second, 6) << 36 |
           field(t.hundredths, 7) << 42;
}

StampTime UnpackTime(std::uint64_t v) {
    auto field = [v](int shift, int bits) {
        return static_cast<int>((v >> shift) & ((std::uint64_t{1} << bits) - 1));
    };
    StampTime t;
    t.year = field(0, 16);
    t.month = field(16, 4);
    t.day = field(20, 5);
    t.hour = field(25, 5);
    t.minute = field(30, 6);
    t.second = field(36, 6);
    t.hundredths = field(42, 7);
    return t;
}

std::size_t RecordSize(std::uint8_t header) {
    return 1 + ((header & kStampFlag) ? kStampBytes : 0) + (header & kLengthMask);
}

} // namespace

CTrafficStore::CTrafficStore() = default;
CTrafficStore::~CTrafficStore() = default;

void CTrafficStore::Append(const TrafficLine& line) {
    const bool stamped = line.kind == TrafficLine::Kind::Message && line.stamped;
    const std::size_t length = static_cast<std::size_t>(line.length) & kLengthMask;
    std::uint8_t header = static_cast<std::uint8_t>(length);
    if (line.kind == TrafficLine::Kind::Raw)
        header |= kRawFlag;
    if (stamped)
        header |= kStampFlag;
    const std::size_t size = RecordSize(header);

    if (m_chunks.empty() || m_chunkUsed.back() + size > kChunkSize) {
        m_chunks.push_back(std::make_unique<std::uint8_t[]>(kChunkSize));
        m_chunkUsed.push_back(0);
    }
    const std::size_t chunk = m_chunks.size() - 1;
    std::uint8_t* p = m_chunks[chunk].get() + m_chunkUsed[chunk];
    const std::uint64_t pos = chunk * kChunkSize + m_chunkUsed[chunk];

    *p++ = header;
    if (stamped) {
        const auto number = static_cast<std::uint32_t>(line.number);
        const std::uint64_t time = PackTime(line.time);
        for (int i = 0; i < 4; ++i)
            *p++ = static_cast<std::uint8_t>(number >> (8 * i));
        for (int i = 0; i < 7; ++i)
            *p++ = static_cast<std::uint8_t>(time >> (8 * i));
    }
    std::memcpy(p, line.bytes, length);
    m_chunkUsed[chunk] += size;

    if ((m_count & ((std::int64_t{1} << kBlockShift) - 1)) == 0)
        m_blockStart.push_back(pos);
    m_lastPos = pos;
    ++m_count;
}

void CTrafficStore::RemoveLast() {
    if (m_count == 0)
        return;
    --m_count;
    if ((m_count & ((std::int64_t{1} << kBlockShift) - 1)) == 0)
        m_blockStart.pop_back();
    // The last record always lies in the last chunk, so the chunk ends where it began.
    m_chunkUsed.back() = static_cast<std::size_t>(m_lastPos % kChunkSize);
    // m_lastPos is stale now; the caller appends at once.
}

void CTrafficStore::ReplaceLast(const TrafficLine& line) {
    RemoveLast();
    Append(line);
}

void CTrafficStore::Clear() {
    m_chunks.clear();
    m_chunkUsed.clear();
    m_blockStart.clear();
    m_chunks.shrink_to_fit();
    m_chunkUsed.shrink_to_fit();
    m_blockStart.shrink_to_fit();
    m_lastPos = 0;
    m_count = 0;
    ++m_generation;
}

std::size_t CTrafficStore::RecordAt(std::uint64_t pos, TrafficLine* line) const {
    const std::uint8_t* p = m_chunks[pos / kChunkSize].get() + pos % kChunkSize;
    const std::uint8_t header = *p;
    if (line) {
        *line = TrafficLine{};
        line->kind = (header & kRawFlag) ? TrafficLine::Kind::Raw : TrafficLine::Kind::Message;
        line->length = header & kLengthMask;
        const std::uint8_t* q = p + 1;
        if (header & kStampFlag) {
            std::uint32_t number = 0;
            std::uint64_t time = 0;
            for (int i = 0; i < 4; ++i)
                number |= std::uint32_t{*q++} << (8 * i);
            for (int i = 0; i < 7; ++i)
                time |= std::uint64_t{*q++} << (8 * i);
            line->stamped = true;
            line->number = static_cast<std::int32_t>(number);
            line->time = UnpackTime(time);
        }
        std::memcpy(line->bytes, q, static_cast<std::size_t>(line->length));
    }
    return RecordSize(header);
}

std::uint64_t CTrafficStore::NextRecord(std::uint64_t pos) const {
    pos += RecordAt(pos, nullptr);
    const std::size_t offset = pos % kChunkSize;
    if (offset == 0)
        return pos;
    const std::size_t chunk = pos / kChunkSize;
    // A record that did not fit at the end of a chunk went to the start of the next one.
    return offset < m_chunkUsed[chunk] ? pos : (chunk + 1) * kChunkSize;
}

TrafficLine CTrafficStore::Line(std::int64_t row) const {
    TrafficLine line;
    if (row < 0 || row >= m_count)
        return line;
    std::uint64_t pos = m_blockStart[static_cast<std::size_t>(row >> kBlockShift)];
    for (std::int64_t i = row & ((std::int64_t{1} << kBlockShift) - 1); i > 0; --i)
        pos = NextRecord(pos);
    RecordAt(pos, &line);
    return line;
}

void CTrafficStore::Scan(std::int64_t first, std::int64_t last,
                         const std::function<void(std::int64_t, const TrafficLine&)>& visit) const {
    first = std::max<std::int64_t>(first, 0);
    last = std::min(last, m_count - 1);
    if (first > last)
        return;
    std::uint64_t pos = m_blockStart[static_cast<std::size_t>(first >> kBlockShift)];
    for (std::int64_t i = first & ((std::int64_t{1} << kBlockShift) - 1); i > 0; --i)
        pos = NextRecord(pos);
    TrafficLine line;
    for (std::int64_t row = first;; ++row) {
        RecordAt(pos, &line);
        visit(row, line);
        if (row == last)
            break;
        pos = NextRecord(pos);
    }
}

std::string CTrafficStore::Text(std::int64_t row) const {
    return LineText(Line(row));
}

std::size_t CTrafficStore::MemoryBytes() const {
    return m_chunks.size() * kChunkSize + m_chunkUsed.capacity() * sizeof(std::size_t) +
           m_blockStart.capacity() * sizeof(std::uint64_t) +
           m_chunks.capacity() * sizeof(m_chunks[0]);
}
