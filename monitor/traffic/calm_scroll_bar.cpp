#include "monitor/traffic/calm_scroll_bar.h"

CCalmScrollBar::CCalmScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    m_deferredPaint.setSingleShot(true);
    QObject::connect(&m_deferredPaint, &QTimer::timeout, this, [this] { update(); });
}

void CCalmScrollBar::sliderChange(SliderChange change) {
    const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : kMinPaintIntervalMs;
    if (isSliderDown() || since >= kMinPaintIntervalMs) {
        QScrollBar::sliderChange(change); // repaints
        return;
    }
    if (!m_deferredPaint.isActive())
        m_deferredPaint.start(static_cast<int>(kMinPaintIntervalMs - since));
}

void CCalmScrollBar::paintEvent(QPaintEvent* event) {
    m_sincePaint.restart();
    QScrollBar::paintEvent(event);
}
