#pragma once
// Shared pieces of the test bus tests: byte helpers, an in-process harness that drives the bus
// engine with made-up times, and a private configuration directory.

#include "busproto/messages.h"
#include "busproto/rx_assembler.h"
#include "tools/sim/bus_sim.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// "E5 14 0F" -> bytes.
inline Bytes Hex(const std::string& text) {
    std::istringstream in(text);
    Bytes bytes;
    std::string word;
    while (in >> word)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    return bytes;
}

inline Bytes Ipl(std::uint8_t kind, Bytes payload = {}) {
    payload.resize(8, 0);
    Bytes message(kIplMessageLength);
    BuildIplMessage(kind, payload.data(), message.data());
    return message;
}

// The time of `bytes` characters of 10 bits on a line at `bitRate`, worked out here from the
// line's physics (start bit, 8 data bits, stop bit).
inline Nanos CharTimes(std::size_t bytes, int bitRate) {
    return static_cast<Nanos>(bytes) * 10 * 1'000'000'000LL / bitRate;
}

// A complete valid message that the engine sent, with the time its last byte went out.
struct Sent {
    Nanos at;
    Bytes bytes;
};

// Drives a CBusSim with made-up times, as the program's loop would with the real clock.
class SimHarness {
public:
    explicit SimHarness(SimConfig config, int bitRate = 16457)
        : m_config(std::move(config)),
          m_sim(
              m_config, [this](const std::string& line) { m_log.push_back(line); },
              [this](const std::string& line) { m_report.push_back(line); }) {
        LineFormat line;
        line.bitRate = bitRate;
        m_sim.SetLineFormat(line);
        m_sim.PortOpened(0);
    }

    // The program writes `bytes`, all arriving at `at`.
    void Write(Nanos at, const Bytes& bytes) {
        RunUntil(at); // what was due before goes out first
        m_sim.Receive(at, bytes.data(), bytes.size());
    }

    // Lets time pass up to `until`: everything due is taken, at its due time.
    void RunUntil(Nanos until) {
        for (Nanos next = m_sim.NextDue(); next <= until; next = m_sim.NextDue())
            TakeAt(next);
        m_now = std::max(m_now, until);
    }

    // Lets time pass until `message` has been sent or `deadline` has come. Returns the time the
    // message went out, or -1. What went out meanwhile stays for TakeSent.
    Nanos AwaitMessage(const Bytes& message, Nanos deadline) {
        for (Nanos next = m_sim.NextDue(); next <= deadline; next = m_sim.NextDue()) {
            const std::size_t before = m_sent.size();
            TakeAt(next);
            for (std::size_t i = before; i < m_sent.size(); ++i)
                if (m_sent[i].bytes == message) {
                    m_now = std::max(m_now, next);
                    return next;
                }
        }
        m_now = std::max(m_now, deadline);
        return -1;
    }

    // Messages sent since the last call.
    std::vector<Sent> TakeSent() {
        std::vector<Sent> sent;
        sent.swap(m_sent);
        return sent;
    }

    bool LogHas(const std::string& part) const {
        for (const std::string& line : m_log)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
    bool ReportHas(const std::string& part) const {
        for (const std::string& line : m_report)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
    std::string ReportText() const {
        std::string text;
        for (const std::string& line : m_report)
            text += line + "\n";
        return text;
    }

    CBusSim& Sim() { return m_sim; }
    const CBusSim& Sim() const { return m_sim; }
    const SimConfig& Config() const { return m_config; }
    const std::vector<std::string>& LogLines() const { return m_log; }
    const Bytes& Raw() const { return m_raw; }
    Nanos Now() const { return m_now; }

private:
    void TakeAt(Nanos now) {
        Bytes out;
        m_sim.TakeDue(now, out);
        for (std::uint8_t b : out) {
            m_raw.push_back(b);
            if (m_rx.Step(b))
                m_sent.push_back({now, Bytes(m_rx.m_rxBuf, m_rx.m_rxBuf + m_rx.m_nRxCount)});
        }
    }

    SimConfig m_config;
    std::vector<std::string> m_log;
    std::vector<std::string> m_report;
    CBusSim m_sim;
    CRxAssembler m_rx;
    std::vector<Sent> m_sent;
    Bytes m_raw;
    Nanos m_now = 0;
};

// A private directory, also used as XDG_CONFIG_HOME, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "simtest-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Valid() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    void UseAsConfigHome() const { setenv("XDG_CONFIG_HOME", m_path.c_str(), 1); }

private:
    std::string m_path;
};

} // namespace simtest
