#pragma once
// Common set-up of the serial tests: a private settings home and a pseudo-terminal line.

#include "serial/serial.h"
#include "tests/serial/pty_pair.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace serialtest {

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override { configHome = UsePrivateConfigHome(); }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(configHome, ignored);
    }

    // Bytes 0..n-1 modulo 256.
    static std::vector<std::uint8_t> Pattern(std::size_t n) {
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i);
        }
        return bytes;
    }

    std::string configHome;
    PtyPair line;
};

inline std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace serialtest
