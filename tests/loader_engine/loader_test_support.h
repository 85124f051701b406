#pragma once
// Shared pieces of the loader engine tests: a private configuration
// directory, the Qt event loop of the user-interface thread, and a window
// receiver that hands the serial notifications to the document.

#include "loader/kelvload_doc.h"
#include "platform/core/window_message.h"
#include "serial/serial_wnd.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

inline QCoreApplication& TestApp() {
    static int argc = 1;
    static char name[] = "loader_engine_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop of this thread until `done` holds or `timeoutMs` has
// passed. Returns whether `done` held.
inline bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    TestApp();
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

inline void RunEventsFor(int ms) {
    RunEventsUntil([] { return false; }, ms);
}

// Every test gets its own configuration directory, so its port entries are
// its own.
class LoaderTest : public ::testing::Test {
protected:
    static constexpr int kComPort = 31;

    void SetUp() override {
        ASSERT_TRUE(m_configDir.isValid());
        setenv("XDG_CONFIG_HOME", m_configDir.path().toLocal8Bit().constData(), 1);
        TestApp();
        m_doc.m_ActiveComPort = kComPort;
        m_notify.MapMessage(
            CSerialWnd::defaultComMessage,
            [this](platform::WParam w, platform::LParam) { m_doc.HandleSerialEvent(w); });
    }

    QTemporaryDir m_configDir;
    platform::WindowMessageReceiver m_notify;
    CKelvloadDoc m_doc;
};
