#pragma once
// The test bus on a thread of the test (CSimThread), over a real pseudo-terminal, and the
// program's side of that line as a test opens it.

#include "tests/sim/sim_test_support.h"
#include "tools/sim/line_format.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"
#include "tools/sim/sim_thread.h"

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>

namespace simtest {

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
