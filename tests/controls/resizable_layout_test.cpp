#include "controls/resizable_layout.h"
#include "controls_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// A layout over a plain window whose size the test sets.
class WindowLayout : public CResizableLayout {
public:
    explicit WindowLayout(QWidget& window) : window_(window) {}
    QWidget* GetLayoutWindow() const override { return &window_; }

private:
    QWidget& window_;
};

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override { form.resize(300, 200); }

    QWidget* Child(const QRect& rect, const QString& className = "Edit", std::uint32_t style = 0) {
        auto* child = new QWidget(&form);
        child->setGeometry(rect);
        SetClassName(child, className);
        SetStyle(child, style);
        return child;
    }
    // Right and bottom exclusive, as the layout counts them.
    static QRect Ltrb(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }

    bool application_ = (EnsureApplication(), true); // before any widget
    QWidget form;
    WindowLayout layout{form};
};

} // namespace

TEST_F(LayoutTest, CornersKeepTheirDistanceToTheEdges) {
    QWidget* list = Child(Ltrb(10, 20, 290, 180));
    layout.AnchorControl(list, AnchorTopLeft, AnchorBottomRight);
    ASSERT_EQ(layout.AnchorCount(), 1);
    const LayoutInfo& entry = layout.Entries()[0];
    EXPECT_EQ(entry.topLeftMargin, QPoint(10, 20));
    EXPECT_EQ(entry.bottomRightMargin, QPoint(-10, -20));

    form.resize(400, 300);
    layout.ApplyLayout();
    EXPECT_EQ(list->geometry(), Ltrb(10, 20, 390, 280));
}

TEST_F(LayoutTest, HalfAnchorTakesHalfTheGrowth) {
    QWidget* edit = Child(Ltrb(10, 10, 150, 30));
    layout.AnchorControl(edit, AnchorTopLeft, AnchorTopCenter);
    form.resize(400, 200);
    layout.ApplyLayout();
    EXPECT_EQ(edit->geometry(), Ltrb(10, 10, 200, 30)); // 50 wider for 100 more form width
    form.resize(301, 250);                              // 300.5 / 2 truncates
    layout.ApplyLayout();
    EXPECT_EQ(edit->geometry(), Ltrb(10, 10, 150, 30));
}

TEST_F(LayoutTest, NoBottomRightAnchorMovesWithoutResizing) {
    QWidget* button = Child(Ltrb(240, 160, 290, 180), "Button");
    layout.AnchorControl(button, AnchorBottomRight); // AnchorNone
    EXPECT_EQ(layout.Entries()[0].bottomRightAnchor, AnchorBottomRight);
    form.resize(350, 230);
    layout.ApplyLayout();
    EXPECT_EQ(button->geometry(), Ltrb(290, 190, 340, 210));

    form.resize(300, 200);
    QWidget* centred = Child(Ltrb(125, 90, 175, 110), "Button");
    layout.AnchorControl(centred, AnchorMiddleCenter);
    form.resize(500, 400);
    layout.ApplyLayout();
    EXPECT_EQ(centred->geometry(), Ltrb(225, 190, 275, 210));
}

TEST_F(LayoutTest, EntriesKeepTheirOrderAndMissingWindowsAreSkipped) {
    QWidget* first = Child(Ltrb(0, 0, 10, 10));
    layout.AnchorControl(first, AnchorTopLeft, AnchorBottomRight);
    layout.AnchorControl(nullptr, AnchorTopLeft, AnchorBottomRight);
    QWidget* third = Child(Ltrb(0, 190, 300, 200));
    layout.AnchorControl(third, AnchorBottomLeft, AnchorBottomRight);
    ASSERT_EQ(layout.AnchorCount(), 3);
    EXPECT_EQ(layout.Entries()[0].window, first);
    EXPECT_EQ(layout.Entries()[1].window, nullptr);
    EXPECT_EQ(layout.Entries()[2].window, third);

    form.resize(320, 210);
    layout.ApplyLayout();
    EXPECT_EQ(first->geometry(), Ltrb(0, 0, 30, 20));
    EXPECT_EQ(third->geometry(), Ltrb(0, 200, 320, 210));

    delete first; // a control that went away is skipped as well
    form.resize(330, 220);
    layout.ApplyLayout();
    EXPECT_EQ(third->geometry(), Ltrb(0, 210, 330, 220));
}

TEST_F(LayoutTest, UnchangedControlsAreNotTouched) {
    QWidget* edit = Child(Ltrb(10, 10, 150, 30));
    QWidget* fixed = Child(Ltrb(10, 40, 150, 60));
    layout.AnchorControl(edit, AnchorTopLeft, AnchorTopRight);
    layout.AnchorControl(fixed, AnchorTopLeft);
    form.show();
    QApplication::processEvents();
    EventCounter editMoves(*edit, QEvent::Resize);
    EventCounter fixedMoves(*fixed, QEvent::Resize);
    EventCounter fixedPlaces(*fixed, QEvent::Move);
    form.resize(360, 200);
    layout.ApplyLayout();
    layout.ApplyLayout(); // nothing changed since
    QApplication::processEvents();
    EXPECT_EQ(editMoves.count, 1);
    EXPECT_EQ(fixedMoves.count, 0);
    EXPECT_EQ(fixedPlaces.count, 0);
}

TEST_F(LayoutTest, GroupBoxesGetClipSiblingsAndAreNeverExcluded) {
    QWidget* group = Child(Ltrb(5, 5, 200, 100), "Button", BsGroupBox);
    layout.AnchorControl(group, AnchorTopLeft, AnchorBottomRight);
    EXPECT_EQ(GetStyle(group) & WsClipSiblings, WsClipSiblings);
    EXPECT_FALSE(layout.ExcludeFromErase(group));
    EXPECT_FALSE(layout.Entries()[0].fullRedraw);

    QWidget* push = Child(Ltrb(5, 5, 20, 20), "Button", BsPushButton);
    layout.AnchorControl(push, AnchorTopLeft);
    EXPECT_EQ(GetStyle(push) & WsClipSiblings, 0u);
    EXPECT_TRUE(layout.ExcludeFromErase(push));
}

TEST_F(LayoutTest, RedrawAndEraseRulesFollowClassAndStyle) {
    auto statics = [&](std::uint32_t style) { return Child(QRect(0, 0, 5, 5), "Static", style); };
    // Texts redraw fully; an icon and simple text do not; the centre-image bit decides for frames.
    EXPECT_TRUE(layout.NeedsFullRedraw(statics(0)));
    EXPECT_TRUE(layout.NeedsFullRedraw(statics(2)));
    EXPECT_FALSE(layout.NeedsFullRedraw(statics(3)));
    EXPECT_FALSE(layout.NeedsFullRedraw(statics(4)));
    EXPECT_TRUE(layout.NeedsFullRedraw(statics(4 | SsCenterImage)));
    EXPECT_FALSE(layout.NeedsFullRedraw(statics(11)));
    EXPECT_FALSE(layout.NeedsFullRedraw(statics(12)));
    EXPECT_TRUE(layout.NeedsFullRedraw(statics(14)));
    EXPECT_FALSE(layout.NeedsFullRedraw(statics(16)));
    EXPECT_TRUE(layout.NeedsFullRedraw(statics(18 | SsCenterImage)));
    EXPECT_FALSE(layout.NeedsFullRedraw(Child(QRect(0, 0, 5, 5), "Edit")));

    EXPECT_FALSE(layout.ExcludeFromErase(statics(0))); // text: the form paints behind it
    EXPECT_TRUE(layout.ExcludeFromErase(statics(3)));
    EXPECT_FALSE(layout.ExcludeFromErase(statics(3 | SsCenterImage)));
    EXPECT_TRUE(layout.ExcludeFromErase(statics(5)));
    EXPECT_TRUE(layout.ExcludeFromErase(statics(14)));
    EXPECT_TRUE(layout.ExcludeFromErase(statics(17)));
    EXPECT_FALSE(layout.ExcludeFromErase(statics(18)));
    EXPECT_TRUE(layout.ExcludeFromErase(Child(QRect(0, 0, 5, 5), "ListBox")));
    EXPECT_TRUE(layout.ExcludeFromErase(Child(QRect(0, 0, 5, 5), "ToolbarWindow32")));
    EXPECT_FALSE(layout.ExcludeFromErase(Child(QRect(0, 0, 5, 5), "ToolbarWindow32", 0x8000)));
}

TEST_F(LayoutTest, EraseLeavesOutOpaqueControlsOnly) {
    QWidget* edit = Child(Ltrb(10, 10, 110, 30));
    QWidget* label = Child(Ltrb(10, 50, 110, 70), "Static", SsLeft);
    QWidget* hidden = Child(Ltrb(150, 10, 250, 30));
    hidden->hide();
    QWidget* round = Child(Ltrb(150, 100, 250, 200));
    round->setMask(QRegion(0, 0, 100, 100, QRegion::Ellipse));
    for (QWidget* control : {edit, label, hidden, round}) {
        layout.AnchorControl(control, AnchorTopLeft);
    }
    form.show();
    QApplication::processEvents();

    const QRegion erase = layout.ClipControls(QRegion(0, 0, 300, 120));
    EXPECT_FALSE(erase.contains(QPoint(50, 20))); // the edit paints itself
    EXPECT_TRUE(erase.contains(QPoint(50, 60)));  // the label does not
    EXPECT_TRUE(erase.contains(QPoint(200, 20))); // hidden controls do not count
    EXPECT_TRUE(erase.contains(QPoint(5, 5)));
    EXPECT_TRUE(erase.contains(QPoint(152, 102))); // outside the round control's shape
    EXPECT_FALSE(erase.contains(QPoint(200, 110)));

    // Added controls grow the region beyond what was asked for.
    const QRegion small = layout.ClipControls(QRegion(0, 0, 5, 5));
    EXPECT_TRUE(small.contains(QPoint(50, 60)));
}

TEST_F(LayoutTest, ScrolledListBoxIsWatchedAndFollowsItsAnchors) {
    auto* list = new QListWidget(&form);
    list->setGeometry(Ltrb(10, 10, 110, 110));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->addItem(QString(200, QLatin1Char('W')));
    form.show();
    QApplication::processEvents();
    ASSERT_GT(list->horizontalScrollBar()->maximum(), 0);
    list->horizontalScrollBar()->setValue(list->horizontalScrollBar()->maximum());
    layout.AnchorControl(list, AnchorTopLeft, AnchorBottomRight);
    EXPECT_TRUE(layout.Entries()[0].watchHScroll);

    form.resize(340, 200);
    layout.ApplyLayout();
    EXPECT_EQ(list->geometry(), Ltrb(10, 10, 150, 110));
}
