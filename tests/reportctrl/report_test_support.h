#pragma once

#include "controls/report_ctrl.h"

#include <QImage>
#include <QRect>
#include <memory>
#include <vector>

struct Notification {
    std::uint32_t message;
    std::uint32_t wParam;
    std::int32_t lParam;
    bool operator==(const Notification&) const = default;
};

// A report list shown in its own top-level window (offscreen), with every
// notification it sends recorded.
class ShownReport {
public:
    ShownReport(int width = 480, int height = 240);
    ~ShownReport();

    CReportCtrl& list() { return *m_list; }
    std::vector<Notification> notifications;

    // Fills the discovery window's columns and `rows` rows; cell (r, c) holds "r:c".
    void Fill(int rows);

    // Real mouse clicks on the list's rows and header.
    void ClickCell(int row, int column, Qt::MouseButton button = Qt::LeftButton);
    void ClickCheckBox(int row, Qt::MouseButton button = Qt::LeftButton);
    void DoubleClickCheckBox(int row);
    void ClickHeader(int column);

    // Where the check box of a row is drawn: the pixels that differ between the
    // row rendered ticked and unticked.
    QRect CheckBoxArea(int row);
    QImage Render();

private:
    std::unique_ptr<CReportCtrl> m_list;
};

// The ticked rows, in order.
std::vector<int> TickedRows(const CReportCtrl& list);
