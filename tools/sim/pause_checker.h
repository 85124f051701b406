#pragma once
// Checks a download against the KFW file it was made from: every message in the order the
// loader sends it, with its payload, and every pause against the file's timing scheme.
//
// A pause is measured from the moment the echo of the previous message was written to the line
// (or, when that message got no echo, from its last write) to the arrival of the next message's
// first write. The echo's time stamp is taken before it is written and the arrival's after the
// bytes were there, so a late test bus only ever makes a pause look longer, never shorter.

#include "tools/sim/sim_config.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct PauseStat {
    int count = 0;
    Nanos shortestSlack = kNever; // measured minus required
    int shortestIndex = -1;       // message index of the shortest slack
};

class CPauseChecker {
public:
    explicit CPauseChecker(const ExpectedFirmware& firmware);

    // One message of the download (retries of the same message excluded). `index` counts the
    // messages of the download from 0; `pause` is -1 for the first message.
    void OnMessage(int index, std::uint8_t kind, const std::uint8_t* data, Nanos pause,
                   bool previousConfirmed);

    bool Complete() const { return m_phase == Phase::Done && !m_stopped; }
    bool Stopped() const { return m_stopped; }
    const std::map<std::string, PauseStat>& Pauses() const { return m_pauses; }
    // Per kind of gap that occurred at least kMinGapsForMedian times, those with no pause
    // required included: the median of the measured gap minus the required pause. A loader that
    // waits longer than it must at every message shows here; a single late wake-up does not.
    std::map<std::string, Nanos> MedianSlacks() const;
    static constexpr std::size_t kMinGapsForMedian = 5;
    const std::vector<std::string>& Violations() const { return m_violations; }

    // The erase block count that the loader must put into its IplSetup.
    int EraseBlockCount() const { return m_eraseCount; }

private:
    enum class Phase { Setup, Address, Data, Done, OutOfStep };

    void Check(int index, const char* what, const std::string& pauseKind, Nanos required,
               Nanos pause);
    void Violation(int index, const std::string& text);
    void OnRecordBoundary(int index, std::uint8_t kind, const std::uint8_t* data, Nanos pause);
    void OnData(int index, std::uint8_t kind, const std::uint8_t* data, Nanos pause);
    int ImageByte(int offset) const;

    const ExpectedFirmware& m_firmware;
    bool m_blockTiming;
    int m_eraseCount = 0;
    int m_pauseValue = 0; // record timing: delay clamped to 0..250
    std::uint8_t m_setupPayload[8] = {};

    Phase m_phase = Phase::Setup;
    bool m_stopped = false;
    int m_setups = 0;
    int m_offset = 0;   // image offset of the current record
    int m_dataSent = 0; // data bytes of the current record sent
    int m_programmed = 0;
    Nanos m_pending = 0; // pause owed before the next message
    std::string m_pendingKind;

    std::map<std::string, PauseStat> m_pauses;
    std::map<std::string, std::vector<Nanos>> m_slacks; // every gap, by kind
    std::vector<std::string> m_violations;
};
