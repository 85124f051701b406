// Loads KFW text from private temporary files into a guarded image buffer.
#pragma once

#include "loader/kfw_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class KfwFixture : public ::testing::Test {
protected:
    static constexpr int kGuard = 64;
    static constexpr std::uint8_t kGuardByte = 0xA5;

    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kfw-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        m_buffer.assign(kfw::kImageBufferSize + kGuard, kGuardByte);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string WriteFile(const std::string& text, const std::string& name = "f.kfw") {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    int LoadPath(const std::string& path) { return kfw::LoadFirmwareFile(path, Sink()); }
    int Load(const std::string& text) { return LoadPath(WriteFile(text)); }

    kfw::FirmwareSink Sink() { return {header, info, m_buffer.data(), length}; }
    std::vector<std::uint8_t> Image() const {
        return {m_buffer.begin(), m_buffer.begin() + length};
    }
    bool GuardIntact() const {
        for (int i = 0; i < kGuard; ++i) {
            if (m_buffer[kfw::kImageBufferSize + i] != kGuardByte)
                return false;
        }
        return true;
    }

    kfw::FirmwareHeader header;
    std::string info;
    int length = -1;
    std::filesystem::path dir;

private:
    std::vector<std::uint8_t> m_buffer;
};
