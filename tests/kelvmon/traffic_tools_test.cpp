// The bus figures in the status bar and the find bar, with traffic arriving on the port.

#include "kelvmon_test_support.h"
#include "monitor/bus_status_label.h"
#include "monitor/capture_window.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/traffic/traffic_filter_bar.h"
#include "monitor/traffic/traffic_find_bar.h"
#include "serial/serial.h"

#include <QAccessible>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

using namespace kelvmon;

namespace {

struct TrafficTools : KelvmonTest {
    TrafficTools() { Start(); }
    const BusFigures& Counts() { return View().Statistics().Counts(); }
};

void Append(Bytes& out, const Bytes& more) {
    for (std::uint8_t b : more)
        out.push_back(b);
}

Bytes Message(Bytes bytes) {
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes)
        x ^= b;
    bytes.push_back(std::uint8_t(~x));
    return bytes;
}

TEST_F(TrafficTools, StatusBarCountsTheBusAlsoWhilePausedAndClearStartsAgain) {
    CBusStatusLabel* label = View().StatusLabel();
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(Frame().statusBar()->isAncestorOf(label));
    // The test takes every sample itself, at times of its own.
    EXPECT_EQ(label->RefreshTimer().interval(), 250);
    EXPECT_TRUE(label->RefreshTimer().isActive());
    label->RefreshTimer().stop();
    std::int64_t now = 5000;
    View().Statistics().m_clock = [&now] { return now; };
    Click(IdcClear);
    Click(IdcPause); // the display stops, the bus does not

    Bytes traffic;
    for (int i = 0; i < 25; ++i)
        Append(traffic, {0x83, 0x7C});
    Append(traffic, {0x83, 0x7D, 0x81, 0x7F}); // two bad checksums
    Append(traffic, {0xA3, 0x01, 0x81, 0x7E}); // one cut short by the next opcode
    Append(traffic, {0xC1, 0x01});             // under way at the line error
    m_bus->Write(traffic);
    ASSERT_TRUE(WaitUntil([&] { return Counts().bytes == traffic.size(); }));
    SimulateLineErrors(View().SerialPort(), LineErrFrame);
    ASSERT_TRUE(WaitUntil([&] { return Counts().lineErrors == 1; }));
    EXPECT_TRUE(Lines().empty()); // paused

    now += 1000;
    label->Refresh();
    const BusFigures figures = View().Statistics().Sample(View().PortBitRate());
    EXPECT_EQ(figures.messages, 26u);
    EXPECT_EQ(figures.badChecksum, 2u);
    EXPECT_EQ(figures.cutShort, 2u);
    EXPECT_EQ(figures.bytes, 60u);
    EXPECT_DOUBLE_EQ(figures.messagesPerSecond, 26.0);
    // 60 bytes of 10 bits in one second on a 16457 bit/s line.
    EXPECT_NEAR(figures.loadPercent, 100.0 * 600 / 16457, 0.02);
    const QString text = QStringLiteral("26 msg/s   Load 3.6 %   Bad 4   Line errors 1   60 bytes");
    EXPECT_EQ(label->text(), text);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->text(QAccessible::Name), text);
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("2 with a bad checksum, 2 cut short")))
        << label->toolTip().toStdString();

    // The rates look at the last second only.
    now += 2000;
    label->Refresh();
    EXPECT_EQ(label->text(),
              QStringLiteral("0 msg/s   Load 0.0 %   Bad 4   Line errors 1   60 bytes"));

    Click(IdcClear);
    label->Refresh();
    EXPECT_EQ(label->text(),
              QStringLiteral("0 msg/s   Load 0.0 %   Bad 0   Line errors 0   0 bytes"));
    // Half a second of 2-byte messages, 50 of them: 100 a second.
    Bytes more;
    for (int i = 0; i < 50; ++i)
        Append(more, {0x81, 0x7E});
    m_bus->Write(more);
    ASSERT_TRUE(WaitUntil([&] { return Counts().bytes == more.size(); }));
    now += 500;
    label->Refresh();
    EXPECT_EQ(label->text(),
              QStringLiteral("100 msg/s   Load 12.2 %   Bad 0   Line errors 0   100 bytes"));
}

TEST_F(TrafficTools, FindBarFindsBytesNextPreviousAndAround) {
    Bytes traffic;
    const Bytes match = Message({0xB0, 0x01, 0x02});
    for (int i = 0; i < 400; ++i) {
        const Bytes m = (i == 40 || i == 350) ? match : Message({0xA0, 0x0B, 0x01});
        Append(traffic, m);
    }
    m_bus->Write(traffic);
    CTrafficList& list = View().TrafficList();
    ASSERT_TRUE(WaitUntil([&] { return list.model()->rowCount() == 400; }));
    CTrafficFindBar* bar = View().FindBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    // Ctrl+F from wherever the focus is at start, not only from the list.
    QWidget* window = list.window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* focus = window->focusWidget() != nullptr ? window->focusWidget() : window;
    EXPECT_NE(focus, &list);
    QTest::keyClick(focus, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    QLineEdit* edit = bar->Edit();
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(edit)->text(QAccessible::Name),
              QStringLiteral("Find"));
    // The bar lies under the rows, not over them.
    EXPECT_LE(list.mapTo(bar->parentWidget(), list.viewport()->geometry().bottomLeft()).y(),
              bar->geometry().top());

    auto selectedRow = [&] {
        const QModelIndexList rows = list.selectionModel()->selectedRows();
        return rows.size() == 1 ? rows[0].row() : -1;
    };
    auto shown = [&](int row) {
        return list.viewport()->rect().contains(list.visualRect(list.model()->index(row, 0)));
    };
    QTest::keyClicks(edit, QStringLiteral("b0 01"));
    EXPECT_EQ(selectedRow(), 40);
    EXPECT_TRUE(shown(40));
    EXPECT_EQ(bar->ResultText(), QStringLiteral("1 of 2"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(selectedRow(), 350);
    EXPECT_TRUE(shown(350));
    EXPECT_EQ(bar->ResultText(), QStringLiteral("2 of 2"));
    QTest::keyClick(edit, Qt::Key_Return); // around the end
    EXPECT_EQ(selectedRow(), 40);
    QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier); // around the top
    EXPECT_EQ(selectedRow(), 350);
    EXPECT_EQ(bar->ResultText(), QStringLiteral("2 of 2"));
    for (QPushButton* button : bar->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Previous"))
            button->click();
    EXPECT_EQ(selectedRow(), 40);

    // New matching traffic counts at once; text that is in no line says so.
    m_bus->Write(match);
    ASSERT_TRUE(WaitUntil([&] { return bar->ResultText() == QStringLiteral("1 of 3"); }));
    edit->setText(QStringLiteral("B0 03"));
    EXPECT_EQ(bar->ResultText(), QStringLiteral("Not found"));
    EXPECT_EQ(selectedRow(), 40); // the selection stays where it was

    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
}

} // namespace

namespace {

TEST_F(TrafficTools, FilterNarrowsTheLiveListWhileTheFiguresCountEveryLine) {
    // The menus offer the tools.
    QStringList items;
    for (QAction* menu : Frame().menuBar()->actions())
        if (menu->menu() != nullptr)
            for (QAction* item : menu->menu()->actions())
                items << item->text();
    for (const char* item : {"&Open Capture...", "&Export as pcap...", "Find...", "Filter..."})
        EXPECT_TRUE(items.contains(QString::fromLatin1(item))) << item;

    Bytes traffic;
    for (int i = 0; i < 30; ++i)
        Append(traffic, i % 3 == 0 ? Message({0xC6, 1, 2, 3, 4}) : Message({0x81}));
    m_bus->Write(traffic);
    CTrafficList& list = View().TrafficList();
    ASSERT_TRUE(WaitUntil([&] { return list.model()->rowCount() == 30; }));

    QWidget* window = list.window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* focus = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QTest::keyClick(focus, Qt::Key_L, Qt::ControlModifier);
    CTrafficFilterBar* bar = View().FilterBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->isVisible());
    bar->OpcodeEdit()->setText(QStringLiteral("C6"));
    EXPECT_EQ(list.model()->rowCount(), 10);

    // New traffic is sorted in as it comes; the figures count every message.
    m_bus->Write(Message({0xC6, 5, 6, 7, 8}));
    m_bus->Write(Message({0x82}));
    ASSERT_TRUE(WaitUntil([&] { return list.model()->rowCount() == 11; }));
    ASSERT_TRUE(WaitUntil([&] { return Counts().messages == 32; }));
    EXPECT_EQ(bar->CountText(), QStringLiteral("11 shown, 21 hidden"));

    // Clear in the bar shows everything again.
    for (QToolButton* button : bar->findChildren<QToolButton*>())
        if (button->text() == QStringLiteral("Clear"))
            button->click();
    EXPECT_EQ(list.model()->rowCount(), 32);
    EXPECT_EQ(list.LineText(31), "82 7D ");

    // A capture file opens in a window of its own.
    QTemporaryDir dir;
    QFile file(dir.filePath("old.cap"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("83 7C \r\n81 7E \r\n");
    file.close();
    CCaptureWindow* opened = Frame().OpenCapture(file.fileName());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->TrafficList().model()->rowCount(), 2);
    EXPECT_EQ(list.model()->rowCount(), 32); // the live list as it was
    opened->close();
}

} // namespace
