#include "report_test_support.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "reportctrl_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv); // lives for the whole test process
}

QRect DifferingPixels(const QImage& a, const QImage& b, const QRect& within) {
    QRect found;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                found |= QRect(x, y, 1, 1);
    return found;
}

} // namespace

ShownReport::ShownReport(int width, int height) {
    EnsureApplication();
    m_list = std::make_unique<CReportCtrl>();
    m_list->SetNotifyHandler([this](std::uint32_t message, std::uint32_t w, std::int32_t l) {
        notifications.push_back({message, w, l});
    });
    m_list->resize(width, height);
    m_list->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_list.get()));
}

ShownReport::~ShownReport() = default;

void ShownReport::Fill(int rows) {
    m_list->DefineColumns("Select, 50, 1  ; Device, 75, 1  ; SN#, 60, 1 ; SWVer, 60, 1  ;HWver,60,"
                          "1 ;IPL Ver,60,1 ;SN#, 60,1 ");
    for (int row = 0; row < rows; ++row) {
        m_list->InsertRow(row, QString());
        for (int column = 0; column < m_list->ColumnCount(); ++column)
            m_list->SetCellText(row, column, QStringLiteral("%1:%2").arg(row).arg(column));
    }
}

void ShownReport::ClickCell(int row, int column, Qt::MouseButton button) {
    const QRect cell = m_list->visualRect(m_list->model()->index(row, column));
    QTest::mouseClick(m_list->viewport(), button, {}, cell.center());
}

void ShownReport::ClickCheckBox(int row, Qt::MouseButton button) {
    QTest::mouseClick(m_list->viewport(), button, {}, CheckBoxArea(row).center());
}

void ShownReport::DoubleClickCheckBox(int row) {
    // As a window system delivers it: press, release, double-click, release.
    const QPoint centre = CheckBoxArea(row).center();
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, centre);
}

void ShownReport::ClickHeader(int column) {
    QHeaderView* header = m_list->header();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
}

QImage ShownReport::Render() {
    return m_list->viewport()->grab().toImage();
}

QRect ShownReport::CheckBoxArea(int row) {
    const bool ticked = m_list->GetCheck(row);
    const int mode = m_list->GetCheckMode();
    if (mode == CheckSingle) // ticking here must not untick other rows
        m_list->SetCheckMode(CheckMulti);
    m_list->SetCheck(row, true);
    const QImage on = Render();
    m_list->SetCheck(row, false);
    const QImage off = Render();
    m_list->SetCheck(row, ticked);
    if (mode == CheckSingle)
        m_list->SetCheckMode(mode);
    const QRect rowRect = m_list->visualRect(m_list->model()->index(row, 0));
    return DifferingPixels(on, off, rowRect.intersected(on.rect()));
}

std::vector<int> TickedRows(const CReportCtrl& list) {
    std::vector<int> rows;
    for (int row = 0; row < list.RowCount(); ++row)
        if (list.GetCheck(row))
            rows.push_back(row);
    return rows;
}
