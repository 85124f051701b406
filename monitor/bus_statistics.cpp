#include "monitor/bus_statistics.h"

#include "busproto/checksum.h"

#include <chrono>

namespace {

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

CBusStatistics::CBusStatistics() : m_clock(SteadyMs) {
    Clear();
}

void CBusStatistics::Receive(const std::uint8_t* data, std::uint32_t count) {
    m_counts.bytes += count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        const int state = m_rx.m_nRxState;
        const bool full = m_rx.m_nRxCount < 0 || m_rx.m_nRxCount >= CRxAssembler::kMaxBytes;
        if (m_rx.Step(b)) {
            ++m_counts.messages;
        } else if (state != 0 && (full || IsOpcode(b))) {
            ++m_counts.cutShort; // the message under way never got its end
        } else if (state == 3) {
            ++m_counts.badChecksum;
        }
    }
}

void CBusStatistics::LineError() {
    ++m_counts.lineErrors;
    if (m_rx.m_nRxState != 0)
        ++m_counts.cutShort;
    m_rx.ResetAfterLineError();
}

void CBusStatistics::Clear() {
    m_counts = BusFigures{};
    m_points.clear();
    m_points.push_back({m_clock(), 0, 0});
}

BusFigures CBusStatistics::Sample(int bitRate) {
    const std::int64_t now = m_clock();
    m_points.push_back({now, m_counts.bytes, m_counts.messages});
    // Keep one point at or before the start of the window.
    while (m_points.size() > 2 && m_points[1].ms <= now - kRateWindowMs)
        m_points.pop_front();
    BusFigures figures = m_counts;
    const Point& from = m_points.front();
    const std::int64_t span = now - from.ms;
    if (span > 0) {
        const double seconds = double(span) / 1000.0;
        figures.messagesPerSecond = double(m_counts.messages - from.messages) / seconds;
        if (bitRate > 0)
            figures.loadPercent =
                100.0 * double(m_counts.bytes - from.bytes) * kBitsPerByte / (seconds * bitRate);
    }
    return figures;
}
