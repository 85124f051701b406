// Timing program for the report list: filling a list of many device rows the way the discovery
// window does, sorting it by a hexadecimal, a real and a text column, and deleting all rows.
//
//   QT_QPA_PLATFORM=offscreen report_list_bench [rows]

#include "controls/report_ctrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* kDiscoveryColumns = "Select, 50, 1  ; Device, 75, 1  ; SN#, 60, 1 ; SWVer, 60, 1  ;"
                                "HWver,60,1 ;IPL Ver,60,1 ;RSSI, 60,1 ";

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;

    CReportCtrl list;
    list.resize(600, 400);
    list.show();
    list.DefineColumns(QString::fromLatin1(kDiscoveryColumns));
    list.SetCheckMode(CheckMulti);

    QElapsedTimer timer;
    timer.start();
    for (int row = 0; row < rows; ++row) {
        // Scrambled values so that the sorts have work to do.
        const quint32 serial = static_cast<quint32>(row) * 2654435761u;
        list.InsertRow(row, QString());
        list.SetCellText(row, 1, QStringLiteral("Device %1").arg(serial % 97));
        list.SetCellHex(row, 2, serial);
        list.SetCellText(row, 3, QStringLiteral("%1.%2").arg(serial % 7).arg(serial % 13));
        list.SetCellText(row, 4, QStringLiteral("%1").arg(serial % 5));
        list.SetCellText(row, 5, QStringLiteral("%1").arg(serial % 3));
        list.SetCellText(row, 6, QStringLiteral("-%1").arg(serial % 90));
        list.SetRowData(row, serial);
    }
    app.processEvents();
    std::printf("fill %d rows (7 cells each): %.1f ms\n", rows, Milliseconds(timer));

    for (int column : {2, 3, 1}) {
        timer.restart();
        list.SortByColumn(column, true);
        app.processEvents();
        const double ascending = Milliseconds(timer);
        timer.restart();
        list.SortByColumn(column, false);
        app.processEvents();
        std::printf("sort column %d: ascending %.1f ms, descending %.1f ms\n", column, ascending,
                    Milliseconds(timer));
    }

    timer.restart();
    const int deleted = list.DeleteRows(ItemAny);
    app.processEvents();
    std::printf("delete %d rows: %.1f ms\n", deleted, Milliseconds(timer));
    return deleted == rows ? 0 : 1;
}
