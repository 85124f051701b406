#include "monitor/capture.h"

#include "platform/gui/message_box.h"

#include <QTimer>
#include <QWidget>

namespace {
QString WriteFailure(const QString& reason) {
    return QStringLiteral("Could Not Write capture File\n%1").arg(reason);
}
} // namespace

bool CCapture::Start(const QString& path) {
    if (m_file.Open(path))
        return true;
    platform::MessageBox(&m_window, QStringLiteral("Could Not Open capture File"));
    return false;
}

void CCapture::Stop() {
    if (m_file.IsOpen() && !m_file.Close())
        Failed();
}

void CCapture::Write(const TrafficLine& line) {
    if (m_file.IsOpen() && !m_file.WriteLine(LineText(line)))
        Failed();
}

void CCapture::Flush() {
    if (m_file.IsOpen() && !m_file.Flush())
        Failed();
}

bool CCapture::CloseNow() {
    if (!m_file.IsOpen() || m_file.Close())
        return true;
    platform::MessageBox(&m_window, WriteFailure(m_file.Error()));
    return false;
}

void CCapture::Failed() {
    m_file.Close(); // already closed by the failure; a no-op then
    if (m_stopped)
        m_stopped();
    if (m_errorPending)
        return;
    m_errorPending = true;
    // Shown from the event loop, not from within the receive path that found the failure.
    const QString text = WriteFailure(m_file.Error());
    QTimer::singleShot(0, &m_window, [this, text] {
        platform::MessageBox(&m_window, text);
        m_errorPending = false;
    });
}
