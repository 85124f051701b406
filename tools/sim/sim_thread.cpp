#include "tools/sim/sim_thread.h"

#include "tools/sim/sim_loop.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

CSimThread::CSimThread(SimConfig config, int comNumber, LineSink log, LineSink report)
    : m_config(std::move(config)) {
    const LineSink keepLog = [this, log](const std::string& line) {
        {
            std::lock_guard guard(m_mutex);
            m_log.push_back(line);
        }
        if (log) {
            log(line);
        }
    };
    const LineSink keepReport = [this, report](const std::string& line) {
        {
            std::lock_guard guard(m_mutex);
            m_report.push_back(line);
        }
        if (report) {
            report(line);
        }
    };
    m_sim = std::make_unique<CBusSim>(m_config, keepLog, keepReport);
    m_master = OpenPseudoTerminal(m_path, m_error);
    if (m_master < 0 || (comNumber > 0 && !m_entry.Create(comNumber, m_path, false, m_error)))
        return;
    if (pipe2(m_stop, O_CLOEXEC) != 0) {
        m_error = "cannot make the stop pipe";
        return;
    }
    m_thread = std::thread([this, keepLog] {
        LoopControl control;
        control.fd = m_stop[0];
        control.onReadable = [] { return false; };
        RunSimLoop(*m_sim, m_master, control, keepLog);
    });
}

CSimThread::~CSimThread() {
    Stop();
    for (int fd : {m_master, m_stop[0], m_stop[1]})
        if (fd >= 0)
            close(fd);
}

void CSimThread::Stop() {
    if (!m_thread.joinable())
        return;
    const char byte = 1;
    while (write(m_stop[1], &byte, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    m_sim->Finish();
    m_stopped = true;
}

void CSimThread::Pull() {
    Stop();
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

int CSimThread::LogCount(const std::string& part) const {
    std::lock_guard guard(m_mutex);
    int count = 0;
    for (const std::string& line : m_log)
        count += line.find(part) != std::string::npos;
    return count;
}

bool CSimThread::AwaitLogCount(const std::string& part, int count, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (LogCount(part) < count) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string CSimThread::ReportText() const {
    std::lock_guard guard(m_mutex);
    std::string text;
    for (const std::string& line : m_report)
        text += line + "\n";
    text += "log:\n";
    for (const std::string& line : m_log)
        text += "  " + line + "\n";
    return text;
}
