#pragma once
// The stored window placement: section "WindowPos", key "WindowPos", ten integers joined by
// colons (flags, show command, minimized x and y, maximized x and y, normal left, top, right,
// bottom). Bit 15 of the flags carries the stay-on-top state.

#include <QList>
#include <QRect>
#include <QString>

struct WindowPlacement {
    static constexpr int kValidLength = 44;
    static constexpr int kRestoreToMaximized = 0x0002; // flag
    static constexpr int kStayOnTopBit = 0x8000;       // flag, never passed to the window
    static constexpr int kShowNormal = 1;
    static constexpr int kShowMinimized = 2;
    static constexpr int kShowMaximized = 3;

    int length = 0; // kValidLength when a placement is held, 0 when none
    int flags = 0;
    int showCmd = kShowNormal;
    int minX = -1, minY = -1;
    int maxX = -1, maxY = -1;
    int left = 0, top = 0, right = 0, bottom = 0; // normal rectangle, right/bottom exclusive

    QRect NormalRect() const { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); }
    void SetNormalRect(const QRect& r);
};

// The setting's text; bit 15 of the flags is set exactly when `stayOnTop`.
QString FormatWindowPos(const WindowPlacement& placement, bool stayOnTop);
// Reads the ten numbers ("%i" each). On success the placement has length 44 and bit 15
// cleared, and `stayOnTop` tells whether it was set. False for an empty or malformed text.
bool ParseWindowPos(const QString& text, WindowPlacement& placement, bool& stayOnTop);

// A normal rectangle that lies wholly outside every screen is moved onto the primary screen
// (keeping its size where it fits); any other rectangle is returned as it is.
QRect PlaceOnScreens(const QRect& normal, const QList<QRect>& screens, const QRect& primary);
