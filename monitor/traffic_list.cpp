#include "monitor/traffic_list.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kTextMargin = 2; // pixels left of the text
}

CTrafficList::CTrafficList(QWidget* parent) : QAbstractItemView(parent), m_model(this) {
    setModel(&m_model);
    // Lines arriving at full bus load would otherwise repaint the list after every read.
    m_publishTimer.setSingleShot(true);
    m_publishTimer.setInterval(kPublishIntervalMs);
    QObject::connect(&m_publishTimer, &QTimer::timeout, this, [this] {
        if (m_publishPending)
            Publish();
    });
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
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
    m_model.Publish();
    if (m_scrollPending) {
        m_scrollPending = false;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
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

void CTrafficList::setSelection(const QRect&, QItemSelectionModel::SelectionFlags) {}

QRegion CTrafficList::visualRegionForSelection(const QItemSelection&) const {
    return {};
}

void CTrafficList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int rowHeight = RowHeight();
    const QRect area = event->rect();
    const int first = TopRow() + std::max(0, area.top()) / rowHeight;
    const int last = std::min(m_model.rowCount() - 1, TopRow() + area.bottom() / rowHeight);
    const QFontMetrics metrics = fontMetrics();
    const int x = kTextMargin - horizontalOffset();
    painter.setPen(palette().color(QPalette::Text));
    int widest = m_widest;
    for (int row = first; row <= last; ++row) {
        const std::string text = m_model.LineText(row);
        const QString line = QString::fromLatin1(text.data(), qsizetype(text.size()));
        const int y = (row - TopRow()) * rowHeight;
        painter.drawText(x, y + metrics.ascent(), line);
        widest = std::max(widest, metrics.horizontalAdvance(line));
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
