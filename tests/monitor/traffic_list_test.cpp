#include "monitor/traffic_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Lives for the whole test process: Qt's own statics must not outlive it.
void EnsureApp() {
    static int argc = 1;
    static char arg0[] = "traffic_list_test";
    static char* argv[] = {arg0, nullptr};
    if (QApplication::instance() == nullptr)
        new QApplication(argc, argv);
}

TrafficLine Message(int value) {
    std::uint8_t bytes[2] = {0x80, static_cast<std::uint8_t>(value & 0x7F)};
    return TrafficLine::Message(bytes, 2);
}

struct WithApp {
    WithApp() { EnsureApp(); }
};

struct TrafficListTest : ::testing::Test, WithApp {
    TrafficListTest() {
        list.resize(400, 200);
        list.show();
        QApplication::processEvents();
    }
    // Runs the event loop until the list has published what it holds.
    void Settle() {
        QElapsedTimer timer;
        timer.start();
        while (list.PublishPending() && timer.elapsed() < 2000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        QApplication::processEvents();
    }
    CTrafficList list;
};

TEST_F(TrafficListTest, LinesReachTheViewTogetherAtThePublishingTime) {
    for (int i = 0; i < 1000; ++i)
        list.AddLine(Message(i));
    // Held at once, published together.
    EXPECT_EQ(list.LineCount(), 1000);
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_TRUE(list.PublishPending());
    Settle();
    EXPECT_EQ(list.model()->rowCount(), 1000);
    EXPECT_EQ(list.model()->index(999, 0).data().toString(),
              QStringLiteral("80 67 ")); // 999 & 0x7F
}

TEST_F(TrafficListTest, ScrollToEndShowsTheLastLine) {
    for (int i = 0; i < 5000; ++i)
        list.AddLine(Message(i));
    list.ScrollToEnd();
    Settle();
    QScrollBar* bar = list.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // The last row stands in the view, the first one is scrolled away.
    const QRect last = list.visualRect(list.model()->index(4999, 0));
    EXPECT_TRUE(list.viewport()->rect().contains(last)) << last.y();
    EXPECT_LT(list.visualRect(list.model()->index(0, 0)).bottom(), 0);
    EXPECT_EQ(list.indexAt(last.center()).row(), 4999);
}

TEST_F(TrafficListTest, ReplacingThePublishedLastLineChangesItsText) {
    list.AddLine(Message(1));
    list.AddLine(TrafficLine::Raw(nullptr, 0));
    list.Publish();
    const std::uint8_t raw[3] = {0x00, 0x01, 0x02};
    list.ReplaceLastLine(TrafficLine::Raw(raw, 3));
    list.Publish();
    EXPECT_EQ(list.model()->rowCount(), 2);
    EXPECT_EQ(list.model()->index(1, 0).data().toString(), QStringLiteral("00 01 02 "));
    EXPECT_EQ(list.model()->index(0, 0).data().toString(), QStringLiteral("80 01 "));
}

TEST_F(TrafficListTest, ClearEmptiesModelViewAndScrollBar) {
    for (int i = 0; i < 300; ++i)
        list.AddLine(Message(i));
    list.ScrollToEnd();
    Settle();
    // Lines added but not yet published go as well.
    list.AddLine(Message(7));
    list.Clear();
    Settle();
    EXPECT_EQ(list.LineCount(), 0);
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_EQ(list.verticalScrollBar()->maximum(), 0);
    list.AddLine(Message(2));
    Settle();
    EXPECT_EQ(list.model()->rowCount(), 1);
    EXPECT_EQ(list.LineText(0), "80 02 ");
}

TEST_F(TrafficListTest, PaintsTheVisibleRowsOfAHugeList) {
    for (int i = 0; i < 200000; ++i)
        list.AddLine(Message(i));
    list.ScrollToEnd();
    Settle();
    const QImage image = list.viewport()->grab().toImage();
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width() / 2; ++x)
            inked += image.pixel(x, y) != background;
    EXPECT_GT(inked, 100); // text was drawn
}

} // namespace
