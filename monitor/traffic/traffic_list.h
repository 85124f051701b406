#pragma once
// The traffic list of the monitor view: an item view over CTrafficModel that shows one line of
// fixed-pitch text per row. Every row has the same height, so the view finds, places and paints
// rows by arithmetic alone: adding lines, scrolling to the end and painting cost the same with
// ten lines or ten million. New lines are published, and the list scrolled to its end, at most
// every 25 ms, which keeps it responsive and cheap at full bus load.
//
// Lines can be selected (click, Shift, Ctrl, Ctrl+A) and copied as the capture file holds them;
// while lines are selected the list does not scroll away from them. Hovering a line shows what
// it means.

#include "monitor/traffic/fixed_pitch_text.h"
#include "monitor/traffic/traffic_model.h"

#include <QAbstractItemView>
#include <QTimer>
#include <functional>
#include <memory>

class QAccessibleInterface;
class QMenu;

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
    // What the line means (tooltip and accessible description).
    QString LineMeaningText(std::int64_t row) const;

    // The selected lines, each followed by CR LF, as the capture file holds them; empty when
    // nothing is selected.
    std::string SelectedText() const;
    void CopySelection() const;
    // The menu of the right mouse button: Copy, Select All and (with a find bar) Find.
    std::unique_ptr<QMenu> ContextMenu();
    // Selects `row` alone, makes it current and scrolls it into view.
    void SelectRow(int row);

    // Room under (over) the rows, in pixels, for a bar that lies over the list's bottom (top)
    // edge.
    void SetBottomMargin(int pixels);
    void SetTopMargin(int pixels);

    // Shows only the lines that pass; the current line stays current and in view, and a list
    // that followed the traffic goes on following it.
    void SetFilter(const FilterCriteria& criteria);

    // Called for Ctrl+F and the context menu's "Find...".
    std::function<void()> onFindRequested;
    // A note shown after a line and in its tooltip (a capture file's damaged line says why);
    // called with the store row, empty for none.
    std::function<QString(std::int64_t)> lineNote;

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
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    friend QAccessibleInterface* TrafficListAccessibleFactory(const QString&, QObject*);
    friend void DropTrafficLineAccessibles(CTrafficList& list);

    void SchedulePublish();
    int VisibleRows() const; // rows that fit wholly

    CTrafficModel m_model;
    QTimer m_publishTimer;
    bool m_publishPending = false;
    bool m_scrollPending = false;
    int m_topMargin = 0;
    int m_bottomMargin = 0;
    int m_widest = 0; // widest line painted so far, in pixels
    CFixedPitchText m_text;
    std::string m_rowText;                        // reused from row to row
    QAccessibleInterface* m_accessible = nullptr; // made by the factory when first asked for
};
