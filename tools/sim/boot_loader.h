#pragma once
// The boot loader of a device on the test bus. It takes the IPL sequence (IplSetup, then per
// record an IplAddress and IplData messages, then IplEnd), rebuilds the image from the
// addresses, and reports every download: messages, duration, wire time and, when it knows the
// KFW file, the check of order, payload and pauses.
//
// The loader writes a message again when its echo does not come back in time. Such a repeat
// (the same bytes, written within 200 ms and before an echo of the earlier copy went out) belongs
// to the same message: the boot loader takes it once, and the pause before it is not a pause.

#include "tools/sim/pause_checker.h"
#include "tools/sim/sim_config.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct DownloadReport {
    int writes = 0;   // messages written, repeats included
    int messages = 0; // distinct messages
    Nanos duration = 0;
    Nanos wireTime = 0;
    int bitRate = 0;
    bool ended = false; // IplEnd taken
    // With an expected file:
    bool checked = false;
    bool complete = false; // the whole image was sent and ended
    bool stopped = false;  // ended early by the user
    std::map<std::string, PauseStat> pauses;
    std::map<std::string, Nanos> medianSlacks; // see CPauseChecker::MedianSlacks
    std::vector<std::string> violations;       // payload, order and pause faults, image differences

    bool Ok() const { return violations.empty() && (!checked || complete); }
};

class CBootLoader {
public:
    CBootLoader(const SimConfig& config, LineSink log, LineSink report);
    ~CBootLoader();

    // A complete, valid message that the program wrote: its index among all such messages, the
    // arrival of its first byte, whether its echo went out intact, its time on the line and the
    // line's bit rate. Returns true when it starts a download.
    bool OnWrite(int writeIndex, Nanos arrival, const std::uint8_t* message, int length,
                 bool echoed, Nanos wireTime, int bitRate);

    // The intact echo of write `writeIndex` went out at `when`.
    void OnEchoWritten(int writeIndex, Nanos when);

    // Reports a download that is still under way (the program ends).
    void Finish();

    const std::vector<DownloadReport>& Reports() const { return m_reports; }
    // The rebuilt image of the last download: address -> byte.
    const std::map<std::uint32_t, std::uint8_t>& Image() const { return m_image; }

private:
    struct Send {
        int firstWrite = -1;
        int lastWrite = -1;
        Nanos firstArrival = 0;
        Nanos lastArrival = 0;
        Nanos echoTime = -1; // first intact echo, -1 while none went out
        bool taken = false;  // its content has been applied
        std::uint8_t bytes[kIplMessageLength] = {};
    };
    struct Session;

    void StartSession(int writeIndex, Nanos arrival);
    void EndSession(bool ended);
    void Take(std::uint8_t kind, const std::uint8_t* data);
    void CheckImage(DownloadReport& report) const;
    void WriteImage() const;

    const SimConfig& m_config;
    LineSink m_log;
    LineSink m_report;
    std::unique_ptr<Session> m_session;
    std::optional<Send> m_send; // the latest IPL message
    std::map<std::uint32_t, std::uint8_t> m_image;
    std::uint8_t m_setup[8] = {};
    std::vector<DownloadReport> m_reports;
    int m_downloads = 0;
};
