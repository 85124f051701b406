#include "tools/sim/sim_thread.h"

#include "tools/sim/sim_loop.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CSimThread::CSimThread(SimConfig config, int comNumber, LineSink log, LineSink report)
    : m_config(std::move(config)) {
    m_sim = std::make_unique<CBusSim>(m_config, log, std::move(report));
    m_master = OpenPseudoTerminal(m_path, m_error);
    if (m_master < 0 || !m_entry.Create(comNumber, m_path, false, m_error))
        return;
    if (pipe2(m_stop, O_CLOEXEC) != 0) {
        m_error = "cannot make the stop pipe";
        return;
    }
    m_thread = std::thread([this, log] {
        LoopControl control;
        control.fd = m_stop[0];
        control.onReadable = [] { return false; };
        RunSimLoop(*m_sim, m_master, control, log);
    });
}

CSimThread::~CSimThread() {
    Finish();
    for (int fd : {m_master, m_stop[0], m_stop[1]})
        if (fd >= 0)
            close(fd);
}

void CSimThread::Finish() {
    if (!m_thread.joinable())
        return;
    const char byte = 1;
    while (write(m_stop[1], &byte, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    m_sim->Finish();
    m_finished = true;
}
