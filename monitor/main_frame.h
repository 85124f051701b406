#pragma once
// CMainFrame: the monitor's main window. It keeps the window placement and the stay-on-top
// state in the "WindowPos" setting, and carries the "Stay On Top" and "&PortSetup" commands.

#include "monitor/window_pos.h"
#include "platform/gui/main_frame.h"

class CCaptureWindow;
class QAction;

class CMainFrame : public platform::MainFrame {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Applies the stored placement (when one was loaded) and shows the frame.
    void ActivateFrame(int showCommand = -1) override;

    // The stored placement; false when there is none or it is malformed.
    bool LoadWindowPos(WindowPlacement& placement);
    void SaveWindowPos(WindowPlacement& placement);

    void OnStayOnTop();
    void OnUpdateStayOnTop(QAction& item) const;
    void ApplyStayOnTop();
    void OnPortSetup();
    // "Open Capture...": a capture file in a read-only window of its own.
    void OnOpenCapture();
    CCaptureWindow* OpenCapture(const QString& path);
    // "Export as pcap...": the lines of the traffic list.
    void OnExportAsPcap();
    // The Edit menu with the traffic list's Find and Filter.
    void AddTrafficMenu(QAction* find, QAction* filter);
    void OnAppAbout();

    int m_bStayOnTop = 0;
    WindowPlacement m_WindowPlacement;

protected:
    bool OnClose() override;

private:
    void CreateMenus();

    QAction* m_stayOnTopItem = nullptr;
};
