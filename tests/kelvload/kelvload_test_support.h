#pragma once
// Shared pieces of the loader's window tests: the Qt application, a private configuration
// directory, sample KFW files and the event loop of the user-interface thread.

#include "loader/kfw_writer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "kelvload_test";
    static char* argv[] = {name, nullptr};
    // Kept until the process ends: destroying it among the exit-time destructors would run
    // after Qt's own global state has gone.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the events of this thread until `done` holds or `timeoutMs` has passed.
inline bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    GuiApp();
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline void RunEventsFor(int ms) {
    RunEventsUntil([] { return false; }, ms);
}

// Every test runs with its own configuration directory, so the settings and port entries it
// makes are its own.
class PrivateConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        ASSERT_TRUE(m_dir.isValid());
        setenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    std::string Path(const std::string& name) const {
        return (m_dir.path() + "/" + QString::fromStdString(name)).toStdString();
    }
    QString SettingsFile() const { return m_dir.path() + "/Kestrom/kelvload.ini"; }

    QTemporaryDir m_dir;
};

// Data bytes 0, 1, 2, ... of `size`.
inline std::vector<std::uint8_t> CountingData(int size, int seed = 0) {
    std::vector<std::uint8_t> data(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i) {
        data[static_cast<size_t>(i)] = static_cast<std::uint8_t>((i * 7 + seed) & 0xFF);
    }
    return data;
}

inline kfw::FirmwareHeader SampleHeader(int delay = 0) {
    kfw::FirmwareHeader header;
    header.product = 20;
    header.hardware = 1;
    header.software = 0x11;
    header.options = 0;
    header.delay = delay;
    header.lastAddress = 0x1000;
    return header;
}

inline std::string WriteSampleKfw(const std::string& path, int dataSize, int recordLength = 16,
                                  int delay = 0) {
    kfw::KfwWriteOptions options;
    options.recordLength = recordLength;
    EXPECT_TRUE(kfw::WriteFirmwareFile(path, SampleHeader(delay), CountingData(dataSize), options));
    return path;
}

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
