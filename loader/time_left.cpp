#include "loader/time_left.h"

#include <algorithm>

namespace {

// The measured ratio stays within these bounds, so that one stalled message early on cannot
// make the estimate run away; a message never takes less than its wire time.
constexpr double kLowestRatio = 1.0;
constexpr double kHighestRatio = 50.0;
// How many of the last messages the ratio is measured over.
constexpr int kRatioWindowMessages = 64;

} // namespace

void CTimeLeft::Start(DownloadPlan plan, std::int64_t nowNs) {
    std::lock_guard guard(m_mutex);
    m_plan = std::move(plan);
    m_running = true;
    m_startNs = nowNs;
    m_endNs = 0;
    m_mark = m_plan.marks.empty() ? DownloadMark{} : m_plan.marks.front();
    m_markNs = nowNs;
    m_passed.clear();
    m_passed.push_back({m_mark, nowNs});
}

void CTimeLeft::Reached(int offset, std::int64_t nowNs) {
    std::lock_guard guard(m_mutex);
    if (!m_running || m_plan.marks.empty()) {
        return;
    }
    m_mark = MarkAt(m_plan, offset);
    m_markNs = nowNs;
    m_passed.push_back({m_mark, nowNs});
}

void CTimeLeft::Finish(std::int64_t nowNs, bool succeeded) {
    std::lock_guard guard(m_mutex);
    if (!m_running) {
        return;
    }
    m_running = false;
    m_endNs = nowNs;
    if (succeeded && !m_plan.marks.empty() && m_mark.offset == m_plan.marks.back().offset) {
        m_mark = m_plan.total;
    }
}

std::int64_t CTimeLeft::LeftAtMark() const {
    // The base: the latest boundary a window of messages back, or else the earliest one, which
    // is the start only while no more than one record is done.
    const std::size_t first = m_passed.size() >= 3 ? 1 : 0;
    std::size_t baseIndex = first;
    for (std::size_t i = m_passed.size(); i-- > first + 1;) {
        if (m_mark.messages - m_passed[i].mark.messages >= kRatioWindowMessages) {
            baseIndex = i;
            break;
        }
    }
    const Passed base = m_passed.empty() ? Passed{m_mark, m_markNs} : m_passed[baseIndex];
    double ratio = kLowestRatio;
    const std::int64_t wire = m_mark.wireNs - base.mark.wireNs;
    if (wire > 0) {
        const auto spentOnMessages =
            static_cast<double>(m_markNs - base.atNs - (m_mark.pauseNs - base.mark.pauseNs));
        ratio =
            std::clamp(spentOnMessages / static_cast<double>(wire), kLowestRatio, kHighestRatio);
    }
    const std::int64_t wireLeft = m_plan.total.wireNs - m_mark.wireNs;
    const std::int64_t pauseLeft = m_plan.total.pauseNs - m_mark.pauseNs;
    return static_cast<std::int64_t>(static_cast<double>(wireLeft) * ratio) + pauseLeft;
}

DownloadProgress CTimeLeft::At(std::int64_t nowNs) const {
    std::lock_guard guard(m_mutex);
    DownloadProgress progress;
    progress.running = m_running;
    progress.endNs = m_endNs;
    progress.messagesSent = m_mark.messages;
    progress.messagesTotal = m_plan.total.messages;
    // Per cent of the records, so that the last one done reads 100.
    const int lastOffset = m_plan.marks.empty() ? 0 : m_plan.marks.back().offset;
    if (lastOffset > 0) {
        progress.percent =
            static_cast<int>(std::clamp(static_cast<std::int64_t>(m_mark.offset) * 100 / lastOffset,
                                        std::int64_t{0}, std::int64_t{100}));
    }
    progress.markNs = m_markNs;
    progress.leftAtMarkNs = LeftAtMark();
    const std::int64_t since = m_running ? nowNs - m_markNs : 0;
    progress.leftNs = m_running ? std::max<std::int64_t>(progress.leftAtMarkNs - since, 0) : 0;
    return progress;
}
