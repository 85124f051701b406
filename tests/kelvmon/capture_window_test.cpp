// A capture file opened again in its read-only window.

#include "kelvmon_test_support.h"
#include "monitor/capture_window.h"
#include "monitor/pcap_export.h"
#include "monitor/traffic/traffic_filter_bar.h"
#include "monitor/traffic/traffic_find_bar.h"

#include <QFile>
#include <QLineEdit>
#include <QTest>

namespace {

TEST(CaptureWindow, ShowsEveryLineMarkedWhereDamagedWithFindFiltersAndRates) {
    EnsureApp();
    QTemporaryDir dir;
    const QString path = dir.filePath("bus.cap");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#0001 = 12/6/2026 18:48:50.00 - 83 7C \r\n"
                "#0002 = 12/6/2026 18:48:50.50 - B0 01 02 4C \r\n"
                "#0003 = 12/6/2026 18:48:51.00 - 83 7D \r\n" // bad checksum
                "Capture of Tuesday\r\n"                     // foreign
                "#0004 = 12/6/2026 18:48:52.00 - B0 01 02 4C \r\n");
    }
    auto* window = new CCaptureWindow();
    ASSERT_TRUE(window->Load(path));
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    CTrafficList& list = window->TrafficList();
    ASSERT_EQ(list.model()->rowCount(), 5);
    EXPECT_EQ(list.LineText(1), "#0002 = 12/6/2026 18:48:50.50 - B0 01 02 4C ");
    // Marks: in the tooltip (and so the accessible description) with their reasons.
    EXPECT_TRUE(list.LineMeaningText(2).endsWith(QStringLiteral("\n<< bad checksum")));
    EXPECT_TRUE(list.LineMeaningText(3).endsWith(
        QStringLiteral("<< not a line of hexadecimal bytes: Capture of Tuesday")));
    EXPECT_TRUE(list.LineMeaningText(1).contains(QStringLiteral("0.50 s since the previous")));
    // The file's figures, with the rate over its 2 s.
    EXPECT_EQ(window->StatusText(), QStringLiteral("5 lines: 3 messages, 1 bad checksum, 0 "
                                                   "damaged, 1 not bytes; 1.5 msg/s over 2.00 s"));

    // Ctrl+F and Ctrl+L work in this window as in the live one.
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(window->FindBar()->isVisible());
    window->FindBar()->Edit()->setText(QStringLiteral("b001"));
    EXPECT_EQ(window->FindBar()->ResultText(), QStringLiteral("1 of 2"));
    QTest::keyClick(window->FindBar()->Edit(), Qt::Key_Escape);
    EXPECT_FALSE(window->FindBar()->isVisible());
    QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(window->FilterBar()->isVisible());
    window->FilterBar()->SetCriteria({LineKind::BadChecksum, FilterCriteria::Mode::Only, -1});
    EXPECT_EQ(list.model()->rowCount(), 1);

    // Its lines, all of them, as pcap: the foreign line has no bytes to give.
    const CaptureConversion exported =
        ExportLinesAsPcap(list.Model().Store(), dir.filePath("bus.pcap"));
    EXPECT_TRUE(exported.error.isEmpty());
    EXPECT_EQ(exported.packets, 4);
    window->close(); // deletes itself

    CCaptureWindow missing;
    EXPECT_FALSE(missing.Load(dir.filePath("none.cap")));
    EXPECT_FALSE(missing.Error().isEmpty());
}

} // namespace
