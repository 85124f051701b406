#pragma once
// CMainFrame: the loader's main window, with its menu, its fixed title and a status bar of one
// message pane. Closing it while a download runs stops the download and waits for it.

#include "platform/gui/main_frame.h"

#include <functional>

class CMainFrame : public platform::MainFrame {
public:
    static constexpr int StatusBarId = 59393;

    // `onAbout` runs the Help menu's About command.
    explicit CMainFrame(std::function<void()> onAbout = {});

    // Builds menu, status bar and title; 0 on success, -1 on failure.
    int OnCreate();

protected:
    bool OnClose() override;

private:
    std::function<void()> m_onAbout;
};
