#include "serial/port_watcher.h"

#include "serial/port_info.h"
#include "serial/port_names.h"

#include <QDir>
#include <QFileInfo>

namespace serial {
namespace {

constexpr int SettleMs = 300;

// The folder itself or, while it does not exist, the nearest one above it that does, so that
// its creation is seen too.
QString ExistingFolder(QString path) {
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path) {
            break;
        }
        path = parent;
    }
    return path;
}

} // namespace

PortWatcher::PortWatcher(std::function<void()> changed) : changed_(std::move(changed)) {
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    QObject::connect(&settle_, &QTimer::timeout, [this] {
        Rearm();
        if (changed_) {
            changed_();
        }
    });
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged,
                     [this](const QString&) { settle_.start(); });
    Rearm();
}

void PortWatcher::Rearm() {
    QStringList wanted;
    for (const std::string& folder : {std::string("/dev"), ByIdDirectory(), PortDirectory()}) {
        const QString existing = ExistingFolder(QString::fromStdString(folder));
        if (!existing.isEmpty() && !wanted.contains(existing)) {
            wanted << existing;
        }
    }
    const QStringList now = watcher_.directories();
    for (const QString& folder : now) {
        if (!wanted.contains(folder)) {
            watcher_.removePath(folder);
        }
    }
    for (const QString& folder : wanted) {
        if (!now.contains(folder)) {
            watcher_.addPath(folder);
        }
    }
}

} // namespace serial
