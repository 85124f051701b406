#include "monitor/window_pos.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

void WindowPlacement::SetNormalRect(const QRect& r) {
    left = r.left();
    top = r.top();
    right = r.left() + r.width();
    bottom = r.top() + r.height();
}

QString FormatWindowPos(const WindowPlacement& p, bool stayOnTop) {
    const int flags = stayOnTop ? (p.flags | WindowPlacement::kStayOnTopBit)
                                : (p.flags & ~WindowPlacement::kStayOnTopBit);
    return QStringLiteral("%1:%2:%3:%4:%5:%6:%7:%8:%9:%10")
        .arg(flags)
        .arg(p.showCmd)
        .arg(p.minX)
        .arg(p.minY)
        .arg(p.maxX)
        .arg(p.maxY)
        .arg(p.left)
        .arg(p.top)
        .arg(p.right)
        .arg(p.bottom);
}

bool ParseWindowPos(const QString& text, WindowPlacement& placement, bool& stayOnTop) {
    if (text.isEmpty())
        return false;
    // Scans like "%i:%i:...:%i": each number directly followed by the colon before the next;
    // whatever follows the tenth number is not looked at.
    const QByteArray bytes = text.toLocal8Bit();
    const char* at = bytes.constData();
    int values[10];
    for (int i = 0; i < 10; ++i) {
        if (i > 0) {
            if (*at != ':')
                return false;
            ++at;
        }
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(at, &end, 0);
        if (end == at || errno == ERANGE || v < INT_MIN || v > INT_MAX)
            return false;
        values[i] = static_cast<int>(v);
        at = end;
    }
    WindowPlacement p;
    p.length = WindowPlacement::kValidLength;
    p.flags = values[0];
    p.showCmd = values[1];
    p.minX = values[2];
    p.minY = values[3];
    p.maxX = values[4];
    p.maxY = values[5];
    p.left = values[6];
    p.top = values[7];
    p.right = values[8];
    p.bottom = values[9];
    stayOnTop = (p.flags & WindowPlacement::kStayOnTopBit) != 0;
    p.flags &= ~WindowPlacement::kStayOnTopBit;
    placement = p;
    return true;
}

QRect PlaceOnScreens(const QRect& normal, const QList<QRect>& screens, const QRect& primary) {
    for (const QRect& screen : screens) {
        if (screen.intersects(normal))
            return normal;
    }
    if (primary.isEmpty())
        return normal;
    const int width = std::min(normal.width(), primary.width());
    const int height = std::min(normal.height(), primary.height());
    return QRect(primary.topLeft(), QSize(std::max(width, 1), std::max(height, 1)));
}
