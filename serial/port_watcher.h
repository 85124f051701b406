#pragma once
// Tells when serial ports may have come or gone: an adapter plugged in or pulled changes /dev
// (and /dev/serial/by-id), and a port entry added or removed changes the per-user ports
// folder. The owner probes its ports again when told. Runs on the thread that creates it.

#include <QFileSystemWatcher>
#include <QTimer>
#include <functional>

namespace serial {

class PortWatcher {
public:
    // changed runs on the creating thread's event loop, once per burst of changes.
    explicit PortWatcher(std::function<void()> changed);
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // The folders watched now (for tests and diagnosis).
    QStringList Watched() const { return watcher_.directories(); }

private:
    void Rearm();

    std::function<void()> changed_;
    QFileSystemWatcher watcher_;
    // A plugged adapter's node comes first and its permissions a moment later; one probe after
    // the burst sees the finished device.
    QTimer settle_;
};

} // namespace serial
