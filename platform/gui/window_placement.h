#pragma once
// A top-level window's placement as ten values, its show command and its top-most state.
//
//   platform::WindowPlacement wp;
//   if (platform::GetWindowPlacement(*frame, wp)) ... // wp.length == 44
//   platform::SetWindowPlacement(*frame, wp);
//   platform::SetTopMost(*frame, true);
//
// The normal rectangle is the window's geometry when neither minimised nor maximised, with
// right and bottom exclusive. Minimised and maximised positions are not tracked and read -1.

#include <QRect>

class QWidget;

namespace platform {

enum ShowCommand : int {
    SwHide = 0,
    SwShowNormal = 1,
    SwShowMinimized = 2,
    SwShowMaximized = 3,
    SwShowNoActivate = 4,
    SwShow = 5,
    SwMinimize = 6,
    SwShowMinNoActive = 7,
    SwShowNa = 8,
    SwRestore = 9,
    SwShowDefault = 10,
};

struct WindowPlacement {
    static constexpr int ValidLength = 44;
    static constexpr int SetMinPosition = 0x0001;     // flag
    static constexpr int RestoreToMaximized = 0x0002; // flag

    int length = 0;
    int flags = 0;
    int showCmd = SwShowNormal;
    int minX = -1, minY = -1;
    int maxX = -1, maxY = -1;
    int left = 0, top = 0, right = 0, bottom = 0;

    QRect NormalRect() const { return QRect(left, top, right - left, bottom - top); }
    void SetNormalRect(const QRect& r);
};

bool GetWindowPlacement(const QWidget& window, WindowPlacement& placement);
// Applies the normal rectangle and the show command. False when the length is not 44 or the
// normal rectangle is empty.
bool SetWindowPlacement(QWidget& window, const WindowPlacement& placement);

// Shows, hides, minimises, maximises or restores the window by a show command.
void ShowWindow(QWidget& window, int showCommand);

// Puts the window into the band of windows kept above the others, or takes it out, without
// moving or resizing it.
void SetTopMost(QWidget& window, bool topMost);
bool IsTopMost(const QWidget& window);

} // namespace platform
