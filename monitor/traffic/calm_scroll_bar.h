#pragma once
// A scroll bar that a program moves many times a second (a list following the bus at full
// load) repaints at most every kMinPaintIntervalMs: a change soon after a paint is shown once,
// at the end of that interval, with whatever it has come to by then. Its value, range and
// accessibility events change at once; only the pixels wait. A change while the user drags the
// slider is painted at once.

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

class CCalmScrollBar : public QScrollBar {
public:
    static constexpr int kMinPaintIntervalMs = 100;

    explicit CCalmScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QElapsedTimer m_sincePaint;
    QTimer m_deferredPaint;
};
