#pragma once
// The bus figures in the main window's status bar: a permanent label of its own, refreshed four
// times a second from the view's statistics. Its text is also what a screen reader reads; the
// tooltip (and accessible description) tells the counts apart.

#include "monitor/bus_statistics.h"

#include <QLabel>
#include <QTimer>
#include <functional>

class CBusStatusLabel : public QLabel {
public:
    static constexpr int kRefreshMs = 250;

    explicit CBusStatusLabel(QWidget* parent = nullptr);

    // Where the figures come from, and the bit rate they were measured at.
    std::function<BusFigures()> source;
    std::function<int()> bitRate;

    // Shows the figures of this moment.
    void Refresh();
    // Calls Refresh every kRefreshMs while it runs.
    QTimer& RefreshTimer() { return m_timer; }

private:
    QTimer m_timer;
};

QString BusFiguresText(const BusFigures& figures);
QString BusFiguresDetail(const BusFigures& figures, int bitRate);
