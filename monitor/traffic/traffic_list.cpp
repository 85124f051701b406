#include "monitor/traffic/traffic_list.h"

#include "monitor/traffic/calm_scroll_bar.h"

#include "monitor/traffic/line_meaning.h"
#include "monitor/traffic/traffic_list_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <utility>
#include <vector>

namespace {
constexpr int kTextMargin = 2; // pixels left of the text
}

CTrafficList::CTrafficList(QWidget* parent) : QAbstractItemView(parent), m_model(this) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(TrafficListAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setModel(&m_model);
    setAccessibleName(QStringLiteral("Bus traffic"));
    // Lines arriving at full bus load would otherwise repaint the list after every read.
    m_publishTimer.setSingleShot(true);
    m_publishTimer.setInterval(kPublishIntervalMs);
    QObject::connect(&m_publishTimer, &QTimer::timeout, this, [this] {
        if (m_publishPending)
            Publish();
    });
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // It follows the bus: at full load its value changes with every publishing.
    setVerticalScrollBar(new CCalmScrollBar(Qt::Vertical, this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    setFont(font);
}

void CTrafficList::AddLine(const TrafficLine& line) {
    if (m_model.AddLine(line))
        SchedulePublish();
}

void CTrafficList::ReplaceLastLine(const TrafficLine& line) {
    m_model.ReplaceLastLine(line);
    SchedulePublish();
}

void CTrafficList::ScrollToEnd() {
    m_scrollPending = true;
    SchedulePublish();
}

void CTrafficList::Clear() {
    m_model.Clear();
}

void CTrafficList::Publish() {
    m_publishPending = false;
    m_publishTimer.stop();
    const int before = m_model.rowCount();
    m_model.Publish();
    if (m_scrollPending) {
        m_scrollPending = false;
        // Selected lines stay where the user looks at them.
        if (!selectionModel()->hasSelection())
            verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    const int after = m_model.rowCount();
    if (QAccessible::isActive() && after > before) {
        // Readers learn of each new line; a burst larger than a screenful is told as one change.
        constexpr int kLinesTold = 64;
        if (after - before <= kLinesTold) {
            for (int row = before; row < after; ++row) {
                QAccessibleEvent event(this, QAccessible::ObjectCreated);
                event.setChild(row);
                QAccessible::updateAccessibility(&event);
            }
        } else {
            QAccessibleEvent event(this, QAccessible::ObjectReorder);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void CTrafficList::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                               const QList<int>& roles) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    if (!QAccessible::isActive() || !topLeft.isValid() || !bottomRight.isValid())
        return;
    // A raw line filled in place reads anew.
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        event.setChild(row);
        QAccessible::updateAccessibility(&event);
    }
}

void CTrafficList::SchedulePublish() {
    if (m_publishPending)
        return;
    m_publishPending = true;
    m_publishTimer.start();
}

int CTrafficList::RowHeight() const {
    return std::max(1, fontMetrics().height());
}

int CTrafficList::TopRow() const {
    return verticalScrollBar()->value();
}

int CTrafficList::VisibleRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

QRect CTrafficList::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != &m_model)
        return {};
    const int width = std::max(viewport()->width(), m_widest + kTextMargin);
    return QRect(-horizontalOffset(), (index.row() - TopRow()) * RowHeight(), width, RowHeight());
}

void CTrafficList::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    const int row = index.row();
    const int top = TopRow();
    const int visible = VisibleRows();
    int newTop = top;
    switch (hint) {
    case PositionAtTop:
        newTop = row;
        break;
    case PositionAtBottom:
        newTop = row - visible + 1;
        break;
    case PositionAtCenter:
        newTop = row - visible / 2;
        break;
    case EnsureVisible:
        if (row < top)
            newTop = row;
        else if (row >= top + visible)
            newTop = row - visible + 1;
        break;
    }
    verticalScrollBar()->setValue(newTop);
}

QModelIndex CTrafficList::indexAt(const QPoint& point) const {
    if (point.y() < 0)
        return {};
    const qint64 row = qint64(TopRow()) + point.y() / RowHeight();
    return row < m_model.rowCount() ? m_model.index(static_cast<int>(row)) : QModelIndex();
}

void CTrafficList::reset() {
    DropTrafficLineAccessibles(*this);
    QAbstractItemView::reset();
    m_widest = 0;
    updateGeometries();
    viewport()->update();
}

QModelIndex CTrafficList::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = m_model.rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : TopRow();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= VisibleRows();
        break;
    case MovePageDown:
        row += VisibleRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return m_model.index(std::clamp(row, 0, rows - 1));
}

int CTrafficList::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int CTrafficList::verticalOffset() const {
    return TopRow() * RowHeight();
}

bool CTrafficList::isIndexHidden(const QModelIndex&) const {
    return false;
}

void CTrafficList::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
    const int rows = m_model.rowCount();
    if (rows == 0)
        return;
    const QRect r = rect.normalized();
    const int rowHeight = RowHeight();
    auto rowAt = [&](int y) {
        return std::clamp(TopRow() + (y < 0 ? (y - rowHeight + 1) / rowHeight : y / rowHeight), 0,
                          rows - 1);
    };
    const QItemSelection selection(m_model.index(rowAt(r.top())), m_model.index(rowAt(r.bottom())));
    selectionModel()->select(selection, flags);
}

QRegion CTrafficList::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = TopRow();
    const int bottom = top + VisibleRows() + 1;
    for (const QItemSelectionRange& range : selection) {
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first > last)
            continue;
        const QRect a = visualRect(m_model.index(first));
        const QRect b = visualRect(m_model.index(last));
        region += a.united(b);
    }
    return region;
}

void CTrafficList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int rowHeight = RowHeight();
    const QRect area = event->rect();
    const int first = TopRow() + std::max(0, area.top()) / rowHeight;
    const int last = std::min(m_model.rowCount() - 1, TopRow() + area.bottom() / rowHeight);
    const QFontMetrics metrics = fontMetrics();
    if (m_text.Font() != font())
        m_text.SetFont(font());
    const int x = kTextMargin - horizontalOffset();
    const QColor textColor = palette().color(QPalette::Text);
    painter.setPen(textColor);
    // Without a selection the rows are painted as they always were.
    const QItemSelectionModel* selection =
        selectionModel()->hasSelection() ? selectionModel() : nullptr;
    int widest = m_widest;
    for (int row = first; row <= last; ++row) {
        m_rowText.clear();
        AppendLineText(m_model.Store().Line(m_model.StoreRow(row)), m_rowText);
        if (lineNote) {
            const QString note = lineNote(m_model.StoreRow(row));
            if (!note.isEmpty())
                m_rowText += "  " + note.toStdString();
        }
        const int y = (row - TopRow()) * rowHeight;
        const bool selected = selection != nullptr && selection->isRowSelected(row);
        if (selected) {
            painter.fillRect(QRect(0, y, viewport()->width(), rowHeight),
                             palette().color(QPalette::Highlight));
            painter.setPen(palette().color(QPalette::HighlightedText));
        }
        m_text.Draw(painter, x, y + metrics.ascent(), m_rowText);
        if (selected)
            painter.setPen(textColor);
        widest = std::max(widest, m_text.Width(m_rowText));
    }
    if (widest > m_widest) {
        m_widest = widest;
        // Adjusting the scroll bar from the paint is deferred to keep painting side-effect free.
        QTimer::singleShot(0, this, [this] { updateGeometries(); });
    }
}

void CTrafficList::updateGeometries() {
    const int visible = VisibleRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, std::max(0, m_model.rowCount() - visible));
    vertical->setSingleStep(1);
    vertical->setPageStep(visible);
    QScrollBar* horizontal = horizontalScrollBar();
    const int contentWidth = m_widest + 2 * kTextMargin;
    horizontal->setRange(0, std::max(0, contentWidth - viewport()->width()));
    horizontal->setSingleStep(std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))));
    horizontal->setPageStep(viewport()->width());
    QAbstractItemView::updateGeometries();
}

void CTrafficList::scrollContentsBy(int, int) {
    viewport()->update();
}

void CTrafficList::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    const int top = TopRow();
    const bool wasAtEnd = top >= verticalScrollBar()->maximum();
    updateGeometries();
    // Only rows that land in the visible part need painting.
    if (start < top + VisibleRows() + 1 || wasAtEnd)
        viewport()->update();
}

QString CTrafficList::LineMeaningText(std::int64_t viewRow) const {
    const std::int64_t row = m_model.StoreRow(viewRow);
    if (row < 0 || row >= m_model.LineCount())
        return {};
    // The line before it on the bus, whether the filter shows it or not.
    const CTrafficStore& store = m_model.Store();
    const TrafficLine line = store.Line(row);
    const TrafficLine previous = row > 0 ? store.Line(row - 1) : TrafficLine{};
    QString text = QString::fromStdString(LineMeaning(line, row > 0 ? &previous : nullptr));
    if (lineNote) {
        const QString note = lineNote(row);
        if (!note.isEmpty())
            text += QLatin1Char('\n') + note;
    }
    return text;
}

std::string CTrafficList::SelectedText() const {
    if (!selectionModel()->hasSelection())
        return {};
    // Ranges may overlap after Ctrl+clicks; each row is copied once, in list order.
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    std::string text;
    int next = 0; // first row not yet copied
    for (const auto& [top, bottom] : ranges) {
        const int from = std::max(top, next);
        if (from > bottom)
            continue;
        if (m_model.Filter().Active()) {
            for (int row = from; row <= bottom; ++row) {
                AppendLineText(m_model.Store().Line(m_model.StoreRow(row)), text);
                text += "\r\n";
            }
        } else {
            m_model.Store().Scan(from, bottom, [&text](std::int64_t, const TrafficLine& line) {
                AppendLineText(line, text);
                text += "\r\n";
            });
        }
        next = bottom + 1;
    }
    return text;
}

void CTrafficList::CopySelection() const {
    const std::string text = SelectedText();
    if (!text.empty())
        QApplication::clipboard()->setText(
            QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void CTrafficList::SelectRow(int row) {
    if (row < 0 || row >= m_model.rowCount())
        return;
    const QModelIndex index = m_model.index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index, PositionAtCenter);
}

void CTrafficList::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        CopySelection();
        event->accept();
        return;
    }
    if (event == QKeySequence::Find && onFindRequested) {
        onFindRequested();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && selectionModel()->hasSelection()) {
        clearSelection(); // the list follows the traffic again
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

std::unique_ptr<QMenu> CTrafficList::ContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    QAction* copy = menu->addAction(QStringLiteral("&Copy"), [this] { CopySelection(); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selectionModel()->hasSelection());
    QAction* all = menu->addAction(QStringLiteral("Select &All"), [this] { selectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(m_model.rowCount() > 0);
    if (onFindRequested) {
        menu->addSeparator();
        QAction* find = menu->addAction(QStringLiteral("&Find..."), [this] { onFindRequested(); });
        find->setShortcut(QKeySequence::Find);
    }
    return menu;
}

void CTrafficList::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu()->exec(event->globalPos());
}

bool CTrafficList::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid())
            QToolTip::showText(help->globalPos(), LineMeaningText(index.row()), viewport(),
                               visualRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractItemView::viewportEvent(event);
}

void CTrafficList::SetBottomMargin(int pixels) {
    m_bottomMargin = pixels;
    setViewportMargins(0, m_topMargin, 0, m_bottomMargin);
    updateGeometries();
}

void CTrafficList::SetTopMargin(int pixels) {
    m_topMargin = pixels;
    setViewportMargins(0, m_topMargin, 0, m_bottomMargin);
    updateGeometries();
}

void CTrafficList::SetFilter(const FilterCriteria& criteria) {
    if (criteria == m_model.Filter().Criteria())
        return;
    Publish();
    const QModelIndex current = currentIndex();
    const bool following = TopRow() >= verticalScrollBar()->maximum();
    const std::int64_t anchor = m_model.StoreRow(current.isValid() ? current.row() : TopRow());
    m_model.SetFilter(criteria);
    const std::int64_t row = anchor >= 0 ? m_model.ViewRow(anchor) : -1;
    if (current.isValid() && row >= 0) {
        selectionModel()->setCurrentIndex(m_model.index(static_cast<int>(row)),
                                          QItemSelectionModel::NoUpdate);
        scrollTo(m_model.index(static_cast<int>(row)), PositionAtCenter);
    } else if (following || row < 0) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        scrollTo(m_model.index(static_cast<int>(row)), PositionAtTop);
    }
}
