#include "controls/clock.h"
#include "controls/resizable_form_view.h"
#include "controls_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const DialogTemplate kMonitorLikeForm{
    102,
    {300, 160},
    {},
    {Control("", 1005, "MFCClockCtrl", WsVisible, 180, 4, 110, 12), ListBox(1002, 7, 20, 286, 100),
     EditText(1020, 7, 130, 200, 12), PushButton("Send", 1021, 240, 130, 50, 14),
     GroupBox("Mode", 1030, 7, 145, 100, 12)}};

class MonitorLikeView : public CResizableFormView {
public:
    MonitorLikeView() : CResizableFormView(kMonitorLikeForm) {}

    void OnInitialUpdate() override {
        if (!layoutReady) {
            AnchorControl(1005, AnchorTopRight);
            AnchorControl(1002, AnchorTopLeft, AnchorBottomRight);
            AnchorControl(1020, AnchorBottomLeft, AnchorBottomRight);
            AnchorControl(1021, AnchorBottomRight);
            AnchorControl(4711, AnchorTopLeft); // no such control
        }
        CResizableFormView::OnInitialUpdate();
    }

    CClock m_clock;

protected:
    void DoDataExchange(DataExchange& dx) override { dx.Control(1005, m_clock); }
};

class FormViewLayout : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        frame = std::make_unique<QMainWindow>();
        view = new MonitorLikeView;
        frame->setCentralWidget(view);
        designed = view->DesignedSize();
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    // Makes the view's client exactly `size`.
    void ResizeClient(QSize size) {
        frame->resize(frame->size() + (size - view->size()));
        QTRY_COMPARE_WITH_TIMEOUT(view->size(), size, 5000);
        QApplication::processEvents();
    }
    QRect At(int id) const { return view->GetDlgItem(id)->geometry(); }

    std::unique_ptr<QMainWindow> frame;
    MonitorLikeView* view = nullptr;
    QSize designed;
};

} // namespace

TEST_F(FormViewLayout, SizesBeforeTheFirstUpdateMoveNothing) {
    ResizeClient(designed);
    const QRect list = At(1002);
    ResizeClient(designed + QSize(120, 80));
    EXPECT_EQ(At(1002), list);
    EXPECT_FALSE(view->layoutReady);
    // Measured against the designed size, whatever the window's size.
    EXPECT_EQ(view->GetLayoutRect().size(), designed);
}

TEST_F(FormViewLayout, FirstUpdateAnchorsAndLaysOutForTheCurrentSize) {
    ResizeClient(designed);
    const QRect list = At(1002);
    const QRect edit = At(1020);
    const QRect send = At(1021);
    const QRect clock = At(1005);

    ResizeClient(designed + QSize(100, 60));
    view->OnInitialUpdate();
    EXPECT_TRUE(view->layoutReady);
    EXPECT_EQ(view->AnchorCount(), 5);
    EXPECT_EQ(view->GetLayoutRect().size(), designed + QSize(100, 60));
    EXPECT_EQ(At(1002), list.adjusted(0, 0, 100, 60));
    EXPECT_EQ(At(1020), edit.adjusted(0, 60, 100, 60));
    EXPECT_EQ(At(1021), send.translated(100, 60));
    // The clock was bound after it was anchored: the bound control follows the anchors.
    EXPECT_EQ(view->GetDlgItem(1005), &view->m_clock);
    EXPECT_EQ(view->Entries()[0].window, &view->m_clock);
    EXPECT_EQ(view->m_clock.geometry(), clock.translated(100, 0));

    // Later size changes follow at once.
    ResizeClient(designed + QSize(40, 10));
    EXPECT_EQ(At(1002), list.adjusted(0, 0, 40, 10));
    EXPECT_EQ(At(1021), send.translated(40, 10));
}

TEST_F(FormViewLayout, SmallerThanDesignedKeepsTheDesignedPlaces) {
    ResizeClient(designed);
    const QRect list = At(1002);
    const QRect send = At(1021);
    view->OnInitialUpdate();
    ResizeClient(designed - QSize(60, 40));
    EXPECT_EQ(view->GetLayoutRect().size(), designed);
    EXPECT_EQ(At(1002), list);
    EXPECT_EQ(At(1021), send);

    // Narrower but taller: only the height counts, less what the horizontal scroll bar takes.
    ResizeClient(QSize(designed.width() - 60, designed.height() + 30));
    const int taller = view->viewport()->height() - designed.height();
    ASSERT_GT(taller, 0);
    EXPECT_EQ(At(1002), list.adjusted(0, 0, 0, taller));
    EXPECT_EQ(At(1021), send.translated(0, taller));
}

TEST_F(FormViewLayout, EraseSkipsOpaqueControlsButNotTheGroupBox) {
    ResizeClient(designed);
    view->OnInitialUpdate();
    view->AnchorControl(1030, AnchorBottomLeft);
    EXPECT_EQ(GetStyle(view->GetDlgItem(1030)) & WsClipSiblings, WsClipSiblings);
    const QRegion all(view->Surface()->rect());
    const QRegion erase = view->ClipControls(all);
    EXPECT_FALSE(erase.contains(At(1020).center()));
    EXPECT_TRUE(erase.contains(At(1030).center()));
}
