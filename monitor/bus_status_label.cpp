#include "monitor/bus_status_label.h"

#include <cmath>

QString BusFiguresText(const BusFigures& f) {
    return QStringLiteral("%1 msg/s   Load %2 %   Bad %3   Line errors %4   %5 bytes")
        .arg(std::lround(f.messagesPerSecond))
        .arg(f.loadPercent, 0, 'f', 1)
        .arg(f.badChecksum + f.cutShort)
        .arg(f.lineErrors)
        .arg(f.bytes);
}

QString BusFiguresDetail(const BusFigures& f, int bitRate) {
    const QString rate =
        bitRate > 0 ? QStringLiteral("%1 bit/s").arg(bitRate) : QStringLiteral("no open port");
    return QStringLiteral("Over the last second: %1 messages a second, bus load %2 % at %3 "
                          "(10 bits a byte)\nSince \"Clear\": %4 messages, %5 with a bad "
                          "checksum, %6 cut short, %7 line errors, %8 bytes")
        .arg(f.messagesPerSecond, 0, 'f', 1)
        .arg(f.loadPercent, 0, 'f', 1)
        .arg(rate)
        .arg(f.messages)
        .arg(f.badChecksum)
        .arg(f.cutShort)
        .arg(f.lineErrors)
        .arg(f.bytes);
}

CBusStatusLabel::CBusStatusLabel(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("busStatistics"));
    setText(BusFiguresText(BusFigures{}));
    m_timer.setInterval(kRefreshMs);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Refresh(); });
    m_timer.start();
}

void CBusStatusLabel::Refresh() {
    if (!source)
        return;
    const BusFigures figures = source();
    const int rate = bitRate ? bitRate() : 0;
    setText(BusFiguresText(figures));
    const QString detail = BusFiguresDetail(figures, rate);
    setToolTip(detail);
    setAccessibleDescription(detail);
}
