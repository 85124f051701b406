#pragma once
// The Qt event loop of a sim test's own thread, which receives the loader's serial
// notifications: one application object per test program, and a bounded wait on a condition.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace simtest {

inline QCoreApplication& TestApp() {
    static int argc = 1;
    static char name[] = "sim_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs this thread's event loop until `done` holds or `timeoutMs` has passed.
inline bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace simtest
