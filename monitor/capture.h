#pragma once
// The capture as the window runs it: the capture file switched on and off, the lines written
// and flushed, and every failure reported to the user once, with capture then off.

#include "monitor/capture_file.h"
#include "monitor/traffic/traffic_line.h"

#include <QString>
#include <functional>

class QWidget;

class CCapture {
public:
    // `window` shows the messages; `stopped` runs when a failure has switched capture off.
    CCapture(QWidget& window, std::function<void()> stopped)
        : m_window(window), m_stopped(std::move(stopped)) {}

    // Switches capture on into the file at `path`; false, and the user is told, when it cannot
    // be opened.
    bool Start(const QString& path);
    // Switches capture off; a failure to write out the last lines is reported.
    void Stop();
    bool IsOpen() const { return m_file.IsOpen(); }
    // Writes a finished line into the open file.
    void Write(const TrafficLine& line);
    // The lines written so far go to the disk, so that a crash loses little.
    void Flush();
    // The window is closing: a failure to write out the last lines is shown at once, since a
    // message deferred to the event loop would never appear. False after such a failure.
    bool CloseNow();

private:
    // A write, flush or close failed: capture stops and the user is told.
    void Failed();

    QWidget& m_window;
    std::function<void()> m_stopped;
    CCaptureFile m_file;
    bool m_errorPending = false;
};
