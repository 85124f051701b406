#include "bench/ui_stall/stall_meter.h"

#include <algorithm>

namespace {

constexpr std::int64_t kPeriodNs = 1'000'000;

std::vector<StallCase>& Registry() {
    static std::vector<StallCase> cases;
    return cases;
}

} // namespace

CStallMeter::CStallMeter() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const std::int64_t now = m_clock.nsecsElapsed();
        m_worstNs = std::max(m_worstNs, now - m_lastNs - kPeriodNs);
        m_lastNs = now;
    });
}

void CStallMeter::Start() {
    m_worstNs = 0;
    m_clock.start();
    m_lastNs = 0;
    m_timer.start();
}

void CStallMeter::Stop() {
    m_timer.stop();
}

StallCaseEntry::StallCaseEntry(StallCase stallCase) {
    Registry().push_back(stallCase);
}

const std::vector<StallCase>& StallCases() {
    return Registry();
}
