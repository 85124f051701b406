#pragma once
// The test bus on a thread of its own, for tests and benchmarks: a pseudo-terminal (also a
// program's COMn when asked), the bus and its loop, until Stop, Pull or the end. Its log and
// reports are kept, and also passed to the sinks when given (on the bus's thread).

#include "tools/sim/bus_sim.h"
#include "tools/sim/pty_port.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSimThread {
public:
    // Starts the bus with `config`, as COM`comNumber` when that is above 0. Check Started()
    // afterwards; Error() says why not.
    explicit CSimThread(SimConfig config, int comNumber = 0, LineSink log = {},
                        LineSink report = {});
    ~CSimThread();
    CSimThread(const CSimThread&) = delete;
    CSimThread& operator=(const CSimThread&) = delete;

    bool Started() const { return m_thread.joinable() || m_stopped; }
    const std::string& Error() const { return m_error; }
    // The program's side of the line.
    const std::string& Path() const { return m_path; }

    // Ends the loop and closes the download under way, so that its report is in. The bus may
    // be looked at afterwards.
    void Stop();
    // Stop, and the line goes, as when a USB adapter is pulled: the program's side hangs up.
    void Pull();

    CBusSim& Sim() { return *m_sim; }

    // The log lines that contain `part`, and a wait of up to `timeoutMs` for `count` of them.
    int LogCount(const std::string& part) const;
    bool LogHas(const std::string& part) const { return LogCount(part) > 0; }
    bool AwaitLog(const std::string& part, int timeoutMs) const {
        return AwaitLogCount(part, 1, timeoutMs);
    }
    bool AwaitLogCount(const std::string& part, int count, int timeoutMs) const;
    // The reports, then the log, for a failure message.
    std::string ReportText() const;

private:
    SimConfig m_config;
    std::string m_path;
    std::string m_error;
    int m_master = -1;
    int m_stop[2] = {-1, -1};
    bool m_stopped = false;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::vector<std::string> m_report;
    CPortEntry m_entry;
    std::unique_ptr<CBusSim> m_sim;
    std::thread m_thread;
};
