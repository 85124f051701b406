#pragma once
// A capture file opened again ("Open Capture..."): a second, read-only window with the traffic
// list of the live view, its meanings, find (Ctrl+F), filters (Ctrl+L) and copy, and the
// file's figures in the status bar (rates where the lines carry time stamps). A damaged or
// foreign line is shown with a mark and its reason; reading never stops at one.

#include "monitor/capture_reader.h"
#include "monitor/traffic/traffic_list.h"

#include <QMainWindow>
#include <vector>

class CTrafficFilterBar;
class CTrafficFindBar;
class QLabel;

class CCaptureWindow : public QMainWindow {
public:
    explicit CCaptureWindow(QWidget* parent = nullptr);

    // Reads the file into the window; false (with Error() set) when it cannot be read at all.
    // A read error after some lines keeps those lines and says so in the status bar.
    bool Load(const QString& path);
    const QString& Error() const { return m_error; }

    CTrafficList& TrafficList() { return m_list; }
    CTrafficFindBar* FindBar() const { return m_findBar; }
    CTrafficFilterBar* FilterBar() const { return m_filterBar; }
    const CaptureFigures& Figures() const { return m_figures; }
    QString StatusText() const;

    void OnExportAsPcap();

private:
    QString NoteOf(std::int64_t row) const;

    QWidget* m_surface;
    CTrafficList m_list;
    CTrafficFindBar* m_findBar;
    CTrafficFilterBar* m_filterBar;
    QLabel* m_status;
    std::vector<CaptureNote> m_notes; // by row
    CaptureFigures m_figures;
    QString m_path;
    QString m_error;
};

// "Export as pcap...": a file chooser over `parent` (starting at `suggested`), then every line
// of `store` written as a pcap file; a failure is shown in a message box, success in the
// status bar of `parent`'s window. Returns true when a file was written.
bool ExportAsPcapWithChooser(QWidget* parent, const CTrafficStore& store, const QString& suggested);
