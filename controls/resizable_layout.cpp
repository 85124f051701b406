#include "controls/resizable_layout.h"

#include "platform/gui/window_class.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace {

constexpr std::uint32_t kStaticTypeMask = 0x1F;
constexpr std::uint32_t kButtonTypeMask = 0x1F;
constexpr std::uint32_t kGroupBoxType = 7;
constexpr std::uint32_t kCenterImage = 0x200;
constexpr std::uint32_t kClipSiblings = 0x04000000;
constexpr std::uint32_t kToolbarNoErase = 0x8000;

bool IsGroupBox(const QString& className, std::uint32_t style) {
    return className == QLatin1String("Button") && (style & kButtonTypeMask) == kGroupBoxType;
}

// The point `percent` of the way along `extent`: signed 32-bit, truncated toward zero.
int Scaled(int extent, int percent) {
    return extent * percent / 100;
}

} // namespace

CResizableLayout::~CResizableLayout() {
    entries_.clear();
    anchorCount_ = 0;
}

QRect CResizableLayout::GetLayoutRect() const {
    const QWidget* window = GetLayoutWindow();
    return window == nullptr ? QRect() : window->rect();
}

bool CResizableLayout::ArrangeCustomEntry(LayoutInfo&) {
    return false;
}

QRect CResizableLayout::ControlRect(const QWidget* window) const {
    const QWidget* layoutWindow = GetLayoutWindow();
    if (layoutWindow == nullptr || window->parentWidget() == layoutWindow) {
        return window->geometry();
    }
    QPoint topLeft;
    if (layoutWindow->isAncestorOf(window)) {
        topLeft = window->mapTo(layoutWindow, QPoint(0, 0));
    } else {
        topLeft = layoutWindow->mapFromGlobal(window->mapToGlobal(QPoint(0, 0)));
    }
    return QRect(topLeft, window->size());
}

void CResizableLayout::AnchorControl(QWidget* window, Anchor topLeft, Anchor bottomRight) {
    LayoutInfo entry;
    entry.window = window;
    entry.customId = 0;
    if (bottomRight == AnchorNone) {
        bottomRight = topLeft;
    }
    entry.topLeftAnchor = topLeft;
    entry.bottomRightAnchor = bottomRight;

    const QRect layout = GetLayoutRect();
    const int w = layout.width();
    const int h = layout.height();
    if (window != nullptr) {
        const QString className = platform::GetClassName(window).left(260);
        const std::uint32_t style = platform::GetStyle(window);
        if (IsGroupBox(className, style)) {
            // Group boxes are painted behind their siblings, never over them.
            platform::SetStyle(window, style | kClipSiblings);
        }
        entry.watchHScroll = className == QLatin1String("ListBox");
        entry.fullRedraw = NeedsFullRedraw(window);

        // Margins are the distances of the corners (right and bottom exclusive) from their
        // anchor points.
        const QRect r = ControlRect(window);
        const int right = r.x() + r.width();
        const int bottom = r.y() + r.height();
        entry.topLeftMargin = QPoint(r.x() - Scaled(w, topLeft.x), r.y() - Scaled(h, topLeft.y));
        entry.bottomRightMargin =
            QPoint(right - Scaled(w, bottomRight.x), bottom - Scaled(h, bottomRight.y));
    }
    entries_.insert(entries_.begin() + anchorCount_, entry);
    ++anchorCount_;
}

void CResizableLayout::ApplyLayout() {
    QWidget* layoutWindow = GetLayoutWindow();
    if (layoutWindow == nullptr) {
        return;
    }
    const QRect layout = GetLayoutRect();
    const int w = layout.width();
    const int h = layout.height();

    // Work out every move first, then apply them together with the window's painting held
    // back, so that the whole pass reaches the screen as one change.
    struct Move {
        QWidget* window;
        QRect target;
        bool redraw;
    };
    std::vector<Move> moves;
    moves.reserve(entries_.size());
    for (LayoutInfo& entry : entries_) {
        if (entry.window.isNull()) {
            ArrangeCustomEntry(entry); // declined entries are simply skipped
            continue;
        }
        QWidget* window = entry.window.data();
        const QRect cur = ControlRect(window);
        const int left = Scaled(w, entry.topLeftAnchor.x) + entry.topLeftMargin.x();
        const int top = Scaled(h, entry.topLeftAnchor.y) + entry.topLeftMargin.y();
        const int right = Scaled(w, entry.bottomRightAnchor.x) + entry.bottomRightMargin.x();
        const int bottom = Scaled(h, entry.bottomRightAnchor.y) + entry.bottomRightMargin.y();
        const QRect target(left, top, right - left, bottom - top);
        if (target == cur) {
            continue;
        }
        bool redraw = entry.fullRedraw;
        if (entry.watchHScroll) {
            // A list scrolled to the right must repaint when it grows: its content shifts.
            redraw = false;
            if (auto* area = qobject_cast<QAbstractScrollArea*>(window)) {
                const QScrollBar* bar = area->horizontalScrollBar();
                const int growth = target.width() - cur.width();
                redraw = bar->maximum() > 0 && bar->value() > bar->maximum() - growth;
            }
        }
        moves.push_back({window, target, redraw});
    }
    if (moves.empty()) {
        return;
    }

    const bool updatesWereEnabled = layoutWindow->updatesEnabled();
    layoutWindow->setUpdatesEnabled(false);
    for (const Move& move : moves) {
        const QPoint topLeft =
            move.window->parentWidget() == layoutWindow
                ? move.target.topLeft()
                : move.window->pos() + (move.target.topLeft() - ControlRect(move.window).topLeft());
        move.window->setGeometry(QRect(topLeft, move.target.size()));
        if (move.redraw) {
            move.window->update();
        }
    }
    layoutWindow->setUpdatesEnabled(updatesWereEnabled);
}

QRegion CResizableLayout::ClipControls(const QRegion& clip) const {
    QRegion result = clip;
    for (const LayoutInfo& entry : entries_) {
        const QWidget* window = entry.window.data();
        if (window == nullptr || !window->isVisible()) {
            continue;
        }
        const QRect r = ControlRect(window);
        const QRegion mask = window->mask();
        const QRegion region = mask.isEmpty() ? QRegion(r) : mask.translated(r.topLeft());
        if (ExcludeFromErase(window)) {
            result -= region;
        } else {
            result |= region;
        }
    }
    return result;
}

bool CResizableLayout::NeedsFullRedraw(const QWidget* window) const {
    if (platform::GetClassName(window) != QLatin1String("Static")) {
        return false;
    }
    const std::uint32_t style = platform::GetStyle(window);
    const std::uint32_t type = style & kStaticTypeMask;
    const bool centerImage = (style & kCenterImage) != 0;
    switch (type) {
    case 0: // left, centred and right text
    case 1:
    case 2:
        return true;
    case 3: // icon
        return false;
    case 11: // simple text
        return false;
    case 14: // bitmap, enhanced metafile
    case 15:
        return true;
    case 16: // etched lines
    case 17:
        return false;
    default: // rectangles, frames, user item, no-wrap text, owner-drawn, etched frame, others
        return centerImage;
    }
}

bool CResizableLayout::ExcludeFromErase(const QWidget* window) const {
    const QString className = platform::GetClassName(window);
    const std::uint32_t style = platform::GetStyle(window);
    if (className == QLatin1String("ToolbarWindow32") && (style & kToolbarNoErase) != 0) {
        return false;
    }
    if (IsGroupBox(className, style)) {
        return false;
    }
    if (className != QLatin1String("Static")) {
        return true;
    }
    switch (style & kStaticTypeMask) {
    case 3:  // icon
    case 15: // enhanced metafile
        return (style & kCenterImage) == 0;
    case 4: // filled rectangles
    case 5:
    case 6:
    case 14: // bitmap
    case 16: // etched lines
    case 17:
        return true;
    default:
        return false;
    }
}

void CResizableLayout::ReplaceWindow(const QWidget* former, QWidget* replacement) {
    for (LayoutInfo& entry : entries_) {
        if (entry.window.data() == former) {
            entry.window = replacement;
        }
    }
}
