#pragma once
// The traffic list of the monitor view: an item view over CTrafficModel that shows one line of
// fixed-pitch text per row. Every row has the same height, so the view finds, places and paints
// rows by arithmetic alone: adding lines, scrolling to the end and painting cost the same with
// ten lines or ten million. New lines are published, and the list scrolled to its end, at most
// every 25 ms, which keeps it responsive and cheap at full bus load.

#include "monitor/traffic_model.h"

#include <QAbstractItemView>
#include <QTimer>

class CTrafficList : public QAbstractItemView {
public:
    static constexpr int kPublishIntervalMs = 25;

    explicit CTrafficList(QWidget* parent = nullptr);

    CTrafficModel& Model() { return m_model; }

    // Lines held, published or not.
    std::int64_t LineCount() const { return m_model.LineCount(); }
    void AddLine(const TrafficLine& line);
    void ReplaceLastLine(const TrafficLine& line);
    void ScrollToEnd();
    void Clear();
    // The text of a line, published or not.
    std::string LineText(std::int64_t row) const { return m_model.LineText(row); }

    // Shows what has changed now rather than at the next publishing time.
    void Publish();
    bool PublishPending() const { return m_publishPending; }

    int RowHeight() const;
    int TopRow() const; // first row shown

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    void SchedulePublish();
    int VisibleRows() const; // rows that fit wholly

    CTrafficModel m_model;
    QTimer m_publishTimer;
    bool m_publishPending = false;
    bool m_scrollPending = false;
    int m_widest = 0; // widest line painted so far, in pixels
};
