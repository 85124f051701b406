#pragma once
// CResizableLayout: controls anchored to points given as percentages of the layout rectangle,
// moved and resized together whenever that rectangle changes.
//
// A control anchored at top-left (0, 0) and bottom-right (100, 100) keeps its distance to all
// four edges; (0, 100) / (0, 100) keeps its size and its distance to the bottom left corner;
// an edit anchored (0, 0) / (50, 0) widens by half of the form's growth.
//
// The layout knows its window only through GetLayoutWindow; CResizableFormView supplies it.

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <vector>

struct Anchor {
    int x = 0; // percent of the layout rectangle's width
    int y = 0; // percent of its height
    friend bool operator==(Anchor, Anchor) = default;
};

inline constexpr Anchor AnchorTopLeft{0, 0};
inline constexpr Anchor AnchorTopCenter{50, 0};
inline constexpr Anchor AnchorTopRight{100, 0};
inline constexpr Anchor AnchorMiddleLeft{0, 50};
inline constexpr Anchor AnchorMiddleCenter{50, 50};
inline constexpr Anchor AnchorMiddleRight{100, 50};
inline constexpr Anchor AnchorBottomLeft{0, 100};
inline constexpr Anchor AnchorBottomCenter{50, 100};
inline constexpr Anchor AnchorBottomRight{100, 100};
inline constexpr Anchor AnchorNone{-1, -1}; // bottom-right only: use the top-left anchor

struct LayoutInfo {
    QPointer<QWidget> window; // null when the form had no such control
    std::uint32_t customId = 0;
    bool watchHScroll = false; // the control is a list box
    bool fullRedraw = false;   // NeedsFullRedraw when it was anchored
    Anchor topLeftAnchor;
    QPoint topLeftMargin;
    Anchor bottomRightAnchor;
    QPoint bottomRightMargin;
};

class CResizableLayout {
public:
    CResizableLayout() = default;
    virtual ~CResizableLayout();
    CResizableLayout(const CResizableLayout&) = delete;
    CResizableLayout& operator=(const CResizableLayout&) = delete;

    // Anchors one control, measured against the current layout rectangle.
    void AnchorControl(QWidget* window, Anchor topLeft, Anchor bottomRight = AnchorNone);
    // Moves all anchored controls for the current layout rectangle, in one batch.
    void ApplyLayout();
    // The region a background erase may paint, starting from `clip`: opaque controls are taken
    // out of it, the others put into it.
    QRegion ClipControls(const QRegion& clip) const;

    const std::vector<LayoutInfo>& Entries() const { return entries_; }
    int AnchorCount() const { return anchorCount_; }

    virtual bool ExcludeFromErase(const QWidget* window) const;
    virtual bool NeedsFullRedraw(const QWidget* window) const;
    // The rectangle the anchors are percentages of; by default the layout window's client.
    virtual QRect GetLayoutRect() const;
    virtual bool ArrangeCustomEntry(LayoutInfo& entry);
    virtual QWidget* GetLayoutWindow() const = 0;

protected:
    // A control the layout holds was replaced by another (see platform::Form::Attach).
    void ReplaceWindow(const QWidget* former, QWidget* replacement);

private:
    QRect ControlRect(const QWidget* window) const;

    std::vector<LayoutInfo> entries_;
    int anchorCount_ = 0;
};
