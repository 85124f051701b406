#pragma once
// The test bus's loop on a thread of the test, over a real pseudo-terminal, and the program's
// side of that line as a test opens it.

#include "tests/sim/sim_test_support.h"
#include "tools/sim/line_format.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>

namespace simtest {

class PtySim {
public:
    explicit PtySim(SimConfig config) : m_config(std::move(config)) {
        std::string error;
        m_master = OpenPseudoTerminal(m_path, error);
        EXPECT_GE(m_master, 0) << error;
        EXPECT_EQ(pipe2(m_stop, O_CLOEXEC), 0);
        const LineSink log = [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_log.push_back(line);
        };
        const LineSink report = [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_report.push_back(line);
        };
        m_sim = std::make_unique<CBusSim>(m_config, log, report);
        if (m_master < 0)
            return;
        m_thread = std::thread([this, log] {
            LoopControl control;
            control.fd = m_stop[0];
            control.onReadable = [] { return false; };
            RunSimLoop(*m_sim, m_master, control, log);
        });
    }
    ~PtySim() {
        Stop();
        if (m_master >= 0)
            close(m_master);
        close(m_stop[0]);
        close(m_stop[1]);
    }
    PtySim(const PtySim&) = delete;
    PtySim& operator=(const PtySim&) = delete;

    // Ends the loop; the engine may be inspected afterwards.
    void Stop() {
        if (!m_thread.joinable())
            return;
        const char byte = 1;
        EXPECT_EQ(write(m_stop[1], &byte, 1), 1);
        m_thread.join();
        m_sim->Finish();
    }

    const std::string& Path() const { return m_path; }
    CBusSim& Sim() { return *m_sim; }

    int LogCount(const std::string& part) const {
        std::lock_guard lock(m_mutex);
        int count = 0;
        for (const std::string& line : m_log)
            count += line.find(part) != std::string::npos;
        return count;
    }
    bool LogHas(const std::string& part) const { return LogCount(part) > 0; }
    // Waits up to `timeoutMs` for a log line containing `part`.
    bool AwaitLog(const std::string& part, int timeoutMs) const {
        return AwaitLogCount(part, 1, timeoutMs);
    }
    // Waits up to `timeoutMs` for `count` log lines containing `part`.
    bool AwaitLogCount(const std::string& part, int count, int timeoutMs) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (LogCount(part) < count) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // The report, then the log, for a failure message.
    std::string ReportText() const {
        std::lock_guard lock(m_mutex);
        std::string text;
        for (const std::string& line : m_report)
            text += line + "\n";
        text += "log:\n";
        for (const std::string& line : m_log)
            text += "  " + line + "\n";
        return text;
    }

private:
    SimConfig m_config;
    std::string m_path;
    int m_master = -1;
    int m_stop[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::vector<std::string> m_report;
    std::unique_ptr<CBusSim> m_sim;
    std::thread m_thread;
};

// The program's side of the line: opened raw at a bit rate, 8 data bits.
class ProgramSide {
public:
    ProgramSide(const std::string& path, int bitRate) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(m_fd, 0) << path;
        if (m_fd < 0)
            return;
        termios tio{};
        EXPECT_EQ(tcgetattr(m_fd, &tio), 0);
        cfmakeraw(&tio);
        EXPECT_EQ(tcsetattr(m_fd, TCSANOW, &tio), 0);
        EXPECT_TRUE(SetLineBitRate(m_fd, bitRate));
    }
    ~ProgramSide() { Close(); }
    ProgramSide(const ProgramSide&) = delete;
    ProgramSide& operator=(const ProgramSide&) = delete;

    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    int Fd() const { return m_fd; }

    void Write(const Bytes& bytes) const {
        EXPECT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `count` bytes have come or `timeoutMs` has passed.
    Bytes Read(std::size_t count, int timeoutMs) const {
        Bytes bytes;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            std::uint8_t buffer[256];
            const ssize_t n = read(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n > 0)
                bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

} // namespace simtest
