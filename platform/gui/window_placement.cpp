#include "platform/gui/window_placement.h"

#include <QWidget>

namespace platform {

void WindowPlacement::SetNormalRect(const QRect& r) {
    left = r.x();
    top = r.y();
    right = r.x() + r.width();
    bottom = r.y() + r.height();
}

bool GetWindowPlacement(const QWidget& window, WindowPlacement& placement) {
    const Qt::WindowStates state = window.windowState();
    placement = WindowPlacement{};
    placement.length = WindowPlacement::ValidLength;
    if (state & Qt::WindowMinimized) {
        placement.showCmd = SwShowMinimized;
        if (state & Qt::WindowMaximized) {
            placement.flags |= WindowPlacement::RestoreToMaximized;
        }
    } else if (state & Qt::WindowMaximized) {
        placement.showCmd = SwShowMaximized;
    } else if (window.isHidden()) {
        placement.showCmd = SwHide;
    }
    QRect normal = window.geometry();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        if (window.normalGeometry().isValid()) {
            normal = window.normalGeometry();
        }
    }
    placement.SetNormalRect(normal);
    return true;
}

bool SetWindowPlacement(QWidget& window, const WindowPlacement& placement) {
    const QRect normal = placement.NormalRect();
    if (placement.length != WindowPlacement::ValidLength || normal.isEmpty()) {
        return false;
    }
    if (window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) {
        window.setWindowState(Qt::WindowNoState);
    }
    window.setGeometry(normal);
    const bool minimized = placement.showCmd == SwShowMinimized ||
                           placement.showCmd == SwMinimize ||
                           placement.showCmd == SwShowMinNoActive;
    if (minimized && (placement.flags & WindowPlacement::RestoreToMaximized) != 0) {
        window.setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
        window.show();
    } else {
        ShowWindow(window, placement.showCmd);
    }
    return true;
}

void ShowWindow(QWidget& window, int showCommand) {
    switch (showCommand) {
    case SwHide:
        window.hide();
        break;
    case SwShowNormal:
    case SwRestore:
    case SwShowDefault:
        window.showNormal();
        break;
    case SwShowMinimized:
    case SwMinimize:
    case SwShowMinNoActive:
        window.showMinimized();
        break;
    case SwShowMaximized:
        window.showMaximized();
        break;
    default:
        window.show();
        break;
    }
}

bool IsTopMost(const QWidget& window) {
    return window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void SetTopMost(QWidget& window, bool topMost) {
    if (IsTopMost(window) == topMost) {
        return;
    }
    // Changing a window flag hides the window: put it back where and as it was.
    const bool visible = window.isVisible();
    const QRect geometry = window.geometry();
    const Qt::WindowStates state = window.windowState();
    window.setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (state == Qt::WindowNoState) {
        window.setGeometry(geometry);
    } else {
        window.setWindowState(state);
    }
    if (visible) {
        window.show();
    }
}

} // namespace platform
