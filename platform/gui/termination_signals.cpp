#include "platform/gui/termination_signals.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

int wakePipe[2] = {-1, -1};

void OnTerminationSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t ignored = write(wakePipe[1], &byte, 1);
    errno = saved;
}

// A modal dialog runs a loop of its own: it is closed first, and the window once that loop
// has returned. A dialog that refuses to close does not keep the window open.
void CloseWindows(const QPointer<QWidget>& window, const QPointer<QWidget>& refused) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != refused) {
        const QPointer<QWidget> closing(modal);
        modal->close();
        QTimer::singleShot(0, qApp, [window, closing] { CloseWindows(window, closing); });
        return;
    }
    if (window) {
        window->close();
    }
}

} // namespace

void CloseOnTerminationSignals(QWidget* mainWindow) {
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, mainWindow);
    const QPointer<QWidget> window(mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [window] {
        unsigned char drained[16];
        while (read(wakePipe[0], drained, sizeof drained) > 0) {
        }
        CloseWindows(window, nullptr);
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace platform
