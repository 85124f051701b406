#include "monitor/capture_window.h"

#include "monitor/pcap_export.h"
#include "monitor/traffic/traffic_filter_bar.h"
#include "monitor/traffic/traffic_find_bar.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

CCaptureWindow::CCaptureWindow(QWidget* parent)
    : QMainWindow(parent), m_surface(new QWidget(this)), m_list(m_surface),
      m_findBar(new CTrafficFindBar(m_list, m_surface)),
      m_filterBar(new CTrafficFilterBar(m_list, m_surface)), m_status(new QLabel(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(m_surface);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(&m_list);
    setCentralWidget(m_surface);
    m_status->setObjectName(QStringLiteral("captureFigures"));
    statusBar()->addWidget(m_status, 1);
    m_list.lineNote = [this](std::int64_t row) { return NoteOf(row); };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Export as &pcap..."), [this] { OnExportAsPcap(); });
    file->addSeparator();
    file->addAction(QStringLiteral("&Close"), QKeySequence::Close, this, &QWidget::close);
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(m_findBar->OpenAction());
    edit->addAction(m_filterBar->OpenAction());
    resize(720, 520);
}

bool CCaptureWindow::Load(const QString& path) {
    m_path = path;
    m_notes.clear();
    m_list.Clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = ReadCaptureFile(
        path, [this](const TrafficLine& line) { m_list.AddLine(line); }, m_notes, m_figures,
        m_error);
    QApplication::restoreOverrideCursor();
    m_list.Publish();
    const QString name = QFileInfo(path).fileName();
    setWindowTitle(name + QStringLiteral(" (read-only) -- kelvmon"));
    setAccessibleName(QStringLiteral("Capture ") + name);
    m_status->setText(StatusText());
    m_status->setAccessibleName(m_status->text());
    return ok || m_figures.lines > 0;
}

QString CCaptureWindow::StatusText() const {
    const QLocale locale;
    const CaptureFigures& f = m_figures;
    QString text =
        QStringLiteral("%1 lines: %2 messages, %3 bad checksum, %4 damaged, %5 not bytes")
            .arg(locale.toString(f.lines), locale.toString(f.messages),
                 locale.toString(f.badChecksum), locale.toString(f.damaged),
                 locale.toString(f.foreign));
    if (f.rawLines > 0)
        text += QStringLiteral(", %1 raw").arg(locale.toString(f.rawLines));
    const double seconds = f.SpanSeconds();
    if (seconds > 0)
        text += QStringLiteral("; %1 msg/s over %2 s")
                    .arg(f.MessagesPerSecond(), 0, 'f', 1)
                    .arg(seconds, 0, 'f', 2);
    if (!m_error.isEmpty())
        text += QStringLiteral("; reading stopped: ") + m_error;
    return text;
}

QString CCaptureWindow::NoteOf(std::int64_t row) const {
    const auto it =
        std::lower_bound(m_notes.begin(), m_notes.end(), row,
                         [](const CaptureNote& n, std::int64_t r) { return n.row < r; });
    if (it == m_notes.end() || it->row != row)
        return {};
    QString note = QStringLiteral("<< ") + QString::fromLatin1(it->reason);
    if (!it->text.empty())
        note += QStringLiteral(": ") +
                QString::fromLocal8Bit(it->text.data(), qsizetype(it->text.size()));
    return note;
}

void CCaptureWindow::OnExportAsPcap() {
    const QFileInfo info(m_path);
    ExportAsPcapWithChooser(this, m_list.Model().Store(),
                            info.path() + QLatin1Char('/') + info.completeBaseName() +
                                QStringLiteral(".pcap"));
}

bool ExportAsPcapWithChooser(QWidget* parent, const CTrafficStore& store,
                             const QString& suggested) {
    const QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Export as pcap"), suggested,
                                     QStringLiteral("pcap files (*.pcap);;All files (*)"));
    if (path.isEmpty())
        return false;
    const CaptureConversion result = ExportLinesAsPcap(store, path);
    if (!result.error.isEmpty()) {
        QMessageBox::warning(parent, QStringLiteral("Export as pcap"),
                             QStringLiteral("Could not write the pcap file: ") + result.error);
        return false;
    }
    if (auto* window = qobject_cast<QMainWindow*>(parent->window()))
        window->statusBar()->showMessage(
            QStringLiteral("%1 packets written to %2").arg(result.packets).arg(path), 10000);
    return true;
}
