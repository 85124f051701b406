#pragma once
// The test bus on a thread of its own, as a program's COMn, for the loader's tests and
// benchmarks: a pseudo-terminal, the port entry and the loop, until Finish or the end.

#include "tools/sim/bus_sim.h"
#include "tools/sim/pty_port.h"

#include <memory>
#include <string>
#include <thread>

class CSimThread {
public:
    // Starts the bus as COM`comNumber` with `config`; the log and reports go to the sinks, on
    // the bus's thread. Check Started() afterwards; Error() says why not.
    CSimThread(SimConfig config, int comNumber, LineSink log, LineSink report);
    ~CSimThread();
    CSimThread(const CSimThread&) = delete;
    CSimThread& operator=(const CSimThread&) = delete;

    bool Started() const { return m_thread.joinable() || m_finished; }
    const std::string& Error() const { return m_error; }

    // Ends the loop and closes the download under way, so that its report is in.
    void Finish();

    CBusSim& Sim() { return *m_sim; }
    // The program's side of the line, at which the port entry points.
    const std::string& Path() const { return m_path; }

private:
    SimConfig m_config;
    std::string m_path;
    std::string m_error;
    int m_master = -1;
    int m_stop[2] = {-1, -1};
    bool m_finished = false;
    CPortEntry m_entry;
    std::unique_ptr<CBusSim> m_sim;
    std::thread m_thread;
};
