#include "monitor/traffic/traffic_filter_bar.h"
#include "monitor/traffic/traffic_find_bar.h"
#include "monitor/traffic/traffic_list.h"

#include <QComboBox>
#include <QLineEdit>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <QToolTip>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

// Rows are drawn glyph by glyph rather than shaped: the pixels and the widths must be those that
// drawText gives, for the list's own fixed-pitch font and for a proportional one.
TEST_F(TrafficListTest, RowTextIsDrawnAsDrawTextDrawsIt) {
    const std::string text = "#0042 = 12/8/2026 14:05:09.37 - B0 01 7E 5A C3 ";
    QFont proportional(QStringLiteral("Sans Serif"), 10);
    proportional.setStyleHint(QFont::SansSerif);
    for (const QFont& font : {list.font(), proportional}) {
        CFixedPitchText drawer;
        drawer.SetFont(font);
        auto render = [&](auto draw) {
            QImage image(500, 40, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            draw(painter);
            return image;
        };
        const QImage glyphs = render([&](QPainter& p) { drawer.Draw(p, 3, 25, text); });
        const QImage shaped =
            render([&](QPainter& p) { p.drawText(3, 25, QString::fromStdString(text)); });
        EXPECT_EQ(glyphs, shaped) << font.family().toStdString();
        EXPECT_NE(glyphs, render([](QPainter&) {})) << "nothing drawn";
        EXPECT_EQ(drawer.Width(text),
                  QFontMetrics(font).horizontalAdvance(QString::fromStdString(text)));
    }
}

// What a screen reader is told: a list whose children are the published lines, by their text.
TEST_F(TrafficListTest, ReadersSeeAListOfThePublishedLinesByTheirText) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::List);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Bus traffic"));
    EXPECT_EQ(iface->childCount(), 0);

    list.AddLine(Message(1));
    list.AddLine(Message(2));
    list.AddLine(TrafficLine::Raw(nullptr, 0));
    EXPECT_EQ(iface->childCount(), 0); // not published yet
    list.Publish();
    ASSERT_EQ(iface->childCount(), 3);
    QAccessibleInterface* first = iface->child(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->role(), QAccessible::ListItem);
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("80 01 "));
    EXPECT_EQ(first->parent(), iface);
    EXPECT_EQ(iface->indexOfChild(first), 0);
    EXPECT_EQ(iface->child(1)->text(QAccessible::Name), QStringLiteral("80 02 "));
    EXPECT_EQ(iface->child(0)->text(QAccessible::Description), list.LineMeaningText(0));
    EXPECT_TRUE(first->text(QAccessible::Description).contains(QStringLiteral("Opcode 80")));

    // The last line, filled in place as raw bytes arrive, reads as it is now shown.
    const std::uint8_t raw[3] = {0x10, 0x11, 0x12};
    QAccessibleInterface* last = iface->child(2);
    EXPECT_EQ(last->text(QAccessible::Name), QString());
    list.ReplaceLastLine(TrafficLine::Raw(raw, 3));
    list.Publish();
    EXPECT_EQ(iface->child(2)->text(QAccessible::Name), QStringLiteral("10 11 12 "));
    EXPECT_EQ(iface->child(3), nullptr);

    // A child at a point of the window is the line drawn there.
    const QRect second = list.visualRect(list.model()->index(1, 0));
    const QPoint global = list.viewport()->mapToGlobal(second.center());
    QAccessibleInterface* hit = iface->childAt(global.x(), global.y());
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->text(QAccessible::Name), QStringLiteral("80 02 "));

    list.Clear();
    EXPECT_EQ(iface->childCount(), 0);
    list.AddLine(Message(9));
    list.Publish();
    ASSERT_EQ(iface->childCount(), 1);
    EXPECT_EQ(iface->child(0)->text(QAccessible::Name), QStringLiteral("80 09 "));
}

// A reader walking through many lines (or asked about each line as it arrives) leaves a
// bounded set of children behind: a few screens of them, the rows on screen among them.
TEST_F(TrafficListTest, ReadersHoldABoundedSetOfChildrenWhileWalkingThroughManyLines) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(iface, nullptr);
    constexpr int kLines = 5000;
    for (int i = 0; i < kLines; ++i)
        list.AddLine(Message(i));
    list.Publish();
    ASSERT_EQ(iface->childCount(), kLines);

    std::vector<QAccessible::Id> ids;
    for (int row = 0; row < kLines; ++row) {
        if (row % 500 == 0) {
            list.scrollTo(list.model()->index(row, 0), QAbstractItemView::PositionAtTop);
            QApplication::processEvents();
        }
        QAccessibleInterface* line = iface->child(row);
        ASSERT_NE(line, nullptr);
        ASSERT_EQ(line->text(QAccessible::Name),
                  QStringLiteral("80 %1 ").arg(row & 0x7F, 2, 16, QLatin1Char('0')).toUpper());
        ids.push_back(QAccessible::uniqueId(line));
    }
    const auto alive = std::count_if(ids.begin(), ids.end(), [](QAccessible::Id id) {
        return QAccessible::accessibleInterface(id) != nullptr;
    });
    EXPECT_GT(alive, 0);
    EXPECT_LE(alive, 256);

    // The rows on screen (scrolled to row 4500) were kept through the walk past them; a row
    // let go of comes back as a new child that reads as before.
    const int onScreen = list.indexAt(QPoint(0, 0)).row();
    ASSERT_EQ(onScreen, 4500);
    EXPECT_EQ(QAccessible::accessibleInterface(ids[onScreen]), iface->child(onScreen));
    EXPECT_EQ(QAccessible::accessibleInterface(ids[0]), nullptr);
    QAccessibleInterface* again = iface->child(0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->text(QAccessible::Name), QStringLiteral("80 00 "));
    EXPECT_EQ(iface->indexOfChild(again), 0);

    list.Clear();
    for (const QAccessible::Id id : ids)
        EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
}

// Hovering a line shows what it means, the same text a reader gets as its description.
TEST_F(TrafficListTest, TooltipOfALineIsItsMeaning) {
    list.AddLine(Message(1));
    list.AddLine(Message(2));
    list.Publish();
    const QPoint at = list.visualRect(list.model()->index(1, 0)).center();
    QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Opcode 80: fixed length, 2 bytes"));
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(&list)->child(1)->text(QAccessible::Description),
        QToolTip::text());
    QToolTip::hideText();
}

// Click, Shift+click, Ctrl+click and Ctrl+A select; Ctrl+C copies as the capture file would.
TEST_F(TrafficListTest, SelectedLinesAreCopiedWithCrLf) {
    for (int i = 0; i < 8; ++i)
        list.AddLine(Message(i));
    list.Publish();
    EXPECT_EQ(list.SelectedText(), "");
    auto rowPoint = [&](int row) { return list.visualRect(list.model()->index(row, 0)).center(); };
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowPoint(1));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(3));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(6));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(2));
    EXPECT_EQ(list.SelectedText(), "80 01 \r\n80 03 \r\n80 06 \r\n");
    QApplication::clipboard()->clear();
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("80 01 \r\n80 03 \r\n80 06 \r\n"));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&list);
    EXPECT_TRUE(iface->child(3)->state().selected);
    EXPECT_FALSE(iface->child(2)->state().selected);

    // The menu of the right mouse button copies the same.
    QApplication::clipboard()->clear();
    auto menuAction = [&](QMenu& menu, const QString& text) -> QAction* {
        for (QAction* action : menu.actions())
            if (action->text() == text)
                return action;
        return nullptr;
    };
    std::unique_ptr<QMenu> menu = list.ContextMenu();
    QAction* copy = menuAction(*menu, QStringLiteral("&Copy"));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("80 01 \r\n80 03 \r\n80 06 \r\n"));

    QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
    std::string all;
    for (int i = 0; i < 8; ++i)
        all += list.LineText(i) + "\r\n";
    EXPECT_EQ(list.SelectedText(), all);
    QTest::keyClick(&list, Qt::Key_Escape);
    EXPECT_EQ(list.SelectedText(), "");
    EXPECT_FALSE(menuAction(*list.ContextMenu(), QStringLiteral("&Copy"))->isEnabled());
}

// New lines scroll the list to its end, but not away from lines the user has selected.
TEST_F(TrafficListTest, SelectionHoldsTheListWhereItIs) {
    for (int i = 0; i < 500; ++i)
        list.AddLine(Message(i));
    list.ScrollToEnd();
    list.Publish();
    list.SelectRow(10);
    const int held = list.TopRow();
    EXPECT_LT(held, 11);
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualRect(list.model()->index(10, 0))));
    for (int i = 0; i < 100; ++i)
        list.AddLine(Message(i));
    list.ScrollToEnd();
    list.Publish();
    EXPECT_EQ(list.TopRow(), held);
    list.clearSelection();
    list.AddLine(Message(1));
    list.ScrollToEnd();
    list.Publish();
    EXPECT_EQ(list.TopRow(), list.verticalScrollBar()->maximum());
    EXPECT_GT(list.TopRow(), held);
}

} // namespace

namespace {

// A list lying on a surface, with the filter bar and the find bar over it, as in the windows.
struct FilteredListTest : ::testing::Test, WithApp {
    FilteredListTest() : list(&surface), filterBar(list, &surface), findBar(list, &surface) {
        surface.resize(500, 300);
        list.setGeometry(0, 0, 500, 300);
        surface.show();
        surface.activateWindow();
        QApplication::processEvents();
    }
    std::vector<std::string> ShownTexts() {
        std::vector<std::string> texts;
        for (int row = 0; row < list.model()->rowCount(); ++row)
            texts.push_back(list.LineText(row));
        return texts;
    }
    QWidget surface;
    CTrafficList list;
    CTrafficFilterBar filterBar;
    CTrafficFindBar findBar;
};

TrafficLine Bytes(std::vector<std::uint8_t> bytes) {
    return TrafficLine::Message(bytes.data(), static_cast<int>(bytes.size()));
}

} // namespace

TEST_F(FilteredListTest, FilterBarNarrowsTheListInPlaceAndClearShowsEverything) {
    for (int i = 0; i < 300; ++i)
        list.AddLine(i % 3 == 0 ? Bytes({0xC6, 1, 2, 3, 4, 0x3D}) : Message(i));
    list.Publish();
    list.SelectRow(150); // a C6 line
    const std::string current = list.LineText(150);

    QTest::keyClick(&surface, Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(filterBar.isVisible());
    EXPECT_EQ(filterBar.CountText(), QStringLiteral("All 300 lines shown"));
    filterBar.OpcodeEdit()->setText(QStringLiteral("c6"));
    EXPECT_EQ(list.model()->rowCount(), 100);
    EXPECT_EQ(filterBar.CountText(), QStringLiteral("100 shown, 200 hidden"));
    // The current line stays current and in view.
    ASSERT_TRUE(list.currentIndex().isValid());
    EXPECT_EQ(list.LineText(list.currentIndex().row()), current);
    EXPECT_TRUE(list.viewport()->rect().intersects(list.visualRect(list.currentIndex())));
    // The filter bar lies over the rows' top edge, not over the rows.
    EXPECT_LE(filterBar.geometry().bottom(),
              list.mapTo(&surface, list.viewport()->geometry().topLeft()).y());

    // Lines that arrive meanwhile are sorted in; copy takes the lines shown.
    list.AddLine(Message(1));
    list.AddLine(Bytes({0xC6, 1, 2, 3, 4, 0x3D}));
    list.Publish();
    EXPECT_EQ(list.model()->rowCount(), 101);
    EXPECT_EQ(filterBar.CountText(), QStringLiteral("101 shown, 201 hidden"));
    list.selectAll();
    EXPECT_EQ(list.SelectedText().size(), 101u * (6 * 3 + 2));
    list.SelectRow(100);
    EXPECT_EQ(list.LineMeaningText(100).left(33),
              QStringLiteral("Opcode C6: fixed length, 6 bytes"));

    // Find looks only at the lines shown.
    findBar.Open();
    findBar.Edit()->setText(QStringLiteral("80 01"));
    EXPECT_EQ(findBar.ResultText(), QStringLiteral("Not found"));
    findBar.Edit()->setText(QStringLiteral("01 02 03"));
    EXPECT_EQ(findBar.ResultText(), QStringLiteral("101 of 101"));
    findBar.Close();

    // Everything hidden; then the bad checksums only (80 xx but 80 7F), and all but them.
    filterBar.KindBox()->setCurrentIndex(static_cast<int>(LineKind::IplData) + 1);
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_EQ(filterBar.CountText(), QStringLiteral("0 shown, 302 hidden"));
    filterBar.SetCriteria({LineKind::BadChecksum, FilterCriteria::Mode::Hide, 0x80});
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"80 7F "}));
    filterBar.SetCriteria({LineKind::BadChecksum, FilterCriteria::Mode::Only, -1});
    EXPECT_EQ(list.model()->rowCount(), 200);
    EXPECT_EQ(ShownTexts()[0], "80 01 ");

    // Esc closes the bar: every line is back, the current one still in place.
    list.SelectRow(50);
    const std::string before = list.LineText(50);
    QTest::keyClick(filterBar.KindBox(), Qt::Key_Escape);
    EXPECT_FALSE(filterBar.isVisible());
    EXPECT_EQ(list.model()->rowCount(), 302);
    EXPECT_EQ(list.LineText(list.currentIndex().row()), before);
    EXPECT_EQ(list.currentIndex().row(), 76); // the 51st line of 80 xx is line 76
    EXPECT_EQ(list.LineCount(), 302);
}
