#pragma once
// How late the window's event loop comes to its events: a timer asks to run every millisecond,
// and the longest gap between two of its runs, beyond that millisecond, is the worst stall.

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <string>
#include <vector>

class CStallMeter {
public:
    CStallMeter();
    // Starts measuring afresh on the calling thread's event loop.
    void Start();
    void Stop();
    double WorstStallMs() const { return static_cast<double>(m_worstNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::int64_t m_lastNs = 0;
    std::int64_t m_worstNs = 0;
};

// One case of the bench: runs on the window's thread with the meter, says what happened in
// `detail`, and returns whether the work itself went right (the stall goal is judged apart).
struct StallCase {
    const char* name;
    const char* description;
    bool (*run)(CStallMeter& meter, std::string& detail);
};

// Each case's source file registers it with a static StallCaseEntry.
struct StallCaseEntry {
    explicit StallCaseEntry(StallCase stallCase);
};
const std::vector<StallCase>& StallCases();
