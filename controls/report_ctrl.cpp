#include "controls/report_ctrl.h"

#include "controls/report_cells.h"
#include "controls/report_model.h"
#include "controls/report_sort.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

// The width of a cell image in front of the cell's text.
constexpr int kImageWidth = 16;

int MouseMessageFor(Qt::MouseButton button, bool doubleClick) {
    switch (button) {
    case Qt::LeftButton:
        return doubleClick ? MouseLeftDoubleClick : MouseLeftDown;
    case Qt::RightButton:
        return doubleClick ? MouseRightDoubleClick : MouseRightDown;
    case Qt::MiddleButton:
        return doubleClick ? MouseMiddleDoubleClick : MouseMiddleDown;
    default:
        return 0;
    }
}

Qt::Alignment EditorAlignment(int align) {
    if (align == AlignCenter)
        return Qt::AlignHCenter | Qt::AlignVCenter;
    if (align == AlignRight)
        return Qt::AlignRight | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// Rows are high enough for the small images once there are any, whether or
// not the first row shows one.
class ReportRowDelegate : public QStyledItemDelegate {
public:
    ReportRowDelegate(const ReportModel& model, QObject* parent)
        : QStyledItemDelegate(parent), m_model(model) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (m_model.HasSmallImages())
            size.setHeight(qMax(size.height(), kImageWidth + 2));
        return size;
    }

private:
    const ReportModel& m_model;
};

} // namespace

CReportCtrl::CReportCtrl(QWidget* parent) : QTreeView(parent), m_model(new ReportModel(this)) {
    setModel(m_model);
    setItemDelegate(new ReportRowDelegate(*m_model, this));
    // Report view: a flat list of rows, whole rows selected, no editing of
    // the toolkit's own; horizontal and vertical scroll bars as needed.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(SelectRows);
    setSelectionMode(ExtendedSelection);
    setEditTriggers(NoEditTriggers);
    setSortingEnabled(false);
    setIconSize(QSize(kImageWidth, kImageWidth));
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setMinimumSectionSize(0);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnHeaderClicked(column); });
}

CReportCtrl::~CReportCtrl() {
    if (m_editor)
        m_editor->removeEventFilter(this);
}

void CReportCtrl::SetNotifyHandler(NotifyHandler handler) {
    m_notify = std::move(handler);
}

void CReportCtrl::NotifyParent(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    if (m_notify)
        m_notify(message, wParam, lParam);
}

// ---- Columns --------------------------------------------------------------

bool CReportCtrl::DefineColumns(const QString& spec) {
    // Deleting the rows discards a running edit: its row is gone.
    DeleteRows(ItemAny);
    RemoveAllColumns();
    MarkUnsorted();
    bool added = false;
    for (const ReportColumnSpec& column : ParseColumnSpec(spec))
        added = AddColumn(ColumnCount(), column.title, column.align, column.width) >= 0 || added;
    return added;
}

int CReportCtrl::AddColumn(int index, const QString& title, ColumnAlign format, int width) {
    FinishCellEdit(true);
    if (index < 0)
        return -1;
    index = qMin(index, ColumnCount());
    ReportColumnSpec column;
    column.title = title;
    column.width = qMax(0, width);
    column.align = (format == AlignCenter || format == AlignRight) ? format : AlignLeft;
    m_model->InsertColumn(index, column);
    header()->resizeSection(index, column.width);
    MarkUnsorted(); // the sort column may have moved
    return index;
}

bool CReportCtrl::RemoveColumn(int index) {
    FinishCellEdit(true);
    if (index < 0 || index >= ColumnCount())
        return false;
    m_model->RemoveColumn(index);
    MarkUnsorted();
    return true;
}

void CReportCtrl::RemoveAllColumns() {
    while (ColumnCount() > 0)
        RemoveColumn(0);
}

int CReportCtrl::ColumnCount() const {
    return m_model->ColumnCount();
}

QString CReportCtrl::GetColumnTitle(int column) const {
    return column >= 0 && column < m_model->ColumnCount() ? m_model->ColumnAt(column).title
                                                          : QString();
}

ColumnAlign CReportCtrl::GetColumnAlign(int column) const {
    return column >= 0 && column < m_model->ColumnCount() ? m_model->ColumnAt(column).align
                                                          : AlignLeft;
}

// ---- Look and behaviour ---------------------------------------------------

void CReportCtrl::ShowGridLines(bool on) {
    m_bGridLines = on ? 1 : 0;
    viewport()->update();
}

bool CReportCtrl::SetCheckMode(int mode) {
    if (mode < CheckNone || mode > CheckLocked)
        return false;
    m_nCheckMode = mode;
    m_bCheckBoxes = mode != CheckNone ? 1 : 0;
    m_model->SetCheckBoxesShown(m_bCheckBoxes != 0);
    if (mode == CheckSingle) {
        const int first = FindNextRow(ItemChecked, -1);
        if (first >= 0)
            UntickOthers(first);
    }
    return true;
}

void CReportCtrl::AllowEditing(bool on) {
    m_bEditable = on ? 1 : 0;
    if (!on)
        FinishCellEdit(true);
}

// ---- Rows -----------------------------------------------------------------

int CReportCtrl::RowCount() const {
    return m_model->RowCount();
}

bool CReportCtrl::ValidRow(int row) const {
    return row >= 0 && row < RowCount();
}

int CReportCtrl::InsertRow(int row, const QString& text) {
    FinishCellEdit(true);
    MarkUnsorted();
    if (row < 0)
        return -1;
    row = qMin(row, RowCount());
    m_model->InsertRow(row, text);
    return row;
}

bool CReportCtrl::DeleteRow(int row, bool selectNext) {
    if (IsEditing())
        FinishCellEdit(m_nEditRow != row); // the edited row itself is going: discard
    if (!ValidRow(row))
        return false;
    if (selectNext && ValidRow(row + 1))
        SelectRow(row + 1, true);
    m_model->RemoveRow(row);
    return true;
}

int CReportCtrl::DeleteRows(int filter) {
    FinishCellEdit(false);
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    int deleted = 0;
    if (filter & ItemAny) {
        deleted = RowCount();
        m_model->RemoveAllRows();
    } else {
        for (int row = RowCount() - 1; row >= 0; --row) {
            if (Matches(row, filter)) {
                m_model->RemoveRow(row);
                ++deleted;
            }
        }
    }
    setUpdatesEnabled(updates);
    return deleted;
}

int CReportCtrl::CountRows(int filter) const {
    int count = 0;
    for (int row = 0; row < RowCount(); ++row)
        count += Matches(row, filter) ? 1 : 0;
    return count;
}

int CReportCtrl::FindNextRow(int filter, int after) const {
    for (int row = qMax(after, -1) + 1; row < RowCount(); ++row)
        if (Matches(row, filter))
            return row;
    return -1;
}

bool CReportCtrl::Matches(int row, int filter) const {
    if (filter == 0)
        return false;
    return (filter & ItemAny) || (ReadRowFlags(row) & filter) == filter;
}

int CReportCtrl::ReadRowFlags(int row) const {
    if (!ValidRow(row))
        return 0;
    const bool selected = selectionModel()->isRowSelected(row, QModelIndex());
    const QModelIndex current = selectionModel()->currentIndex();
    const bool focused = current.isValid() && current.row() == row;
    return (selected ? ItemSelected : ItemUnselected) |
           (GetCheck(row) ? ItemChecked : ItemUnchecked) | (focused ? ItemFocused : ItemUnfocused);
}

bool CReportCtrl::ApplyRowFlags(int row, int flags) {
    if (!ValidRow(row))
        return false;
    bool ok = true;
    if (flags & ItemSelected)
        ok = SelectRow(row, true) && ok;
    if (flags & ItemUnselected)
        ok = SelectRow(row, false) && ok;
    if (flags & ItemChecked)
        ok = SetCheck(row, true) && ok;
    if (flags & ItemUnchecked)
        ok = SetCheck(row, false) && ok;
    if (flags & ItemFocused)
        FocusRow(row);
    if ((flags & ItemUnfocused) && selectionModel()->currentIndex().row() == row)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return ok;
}

int CReportCtrl::ApplyFlagsToRows(int filter, int flags) {
    int applied = 0;
    for (int row = FindNextRow(filter, -1); row >= 0; row = FindNextRow(filter, row)) {
        ApplyRowFlags(row, flags);
        ++applied;
    }
    return applied;
}

bool CReportCtrl::SetRowData(int row, quint32 value) {
    if (!ValidRow(row))
        return false;
    m_model->SetUserData(row, value);
    return true;
}

quint32 CReportCtrl::GetRowData(int row) const {
    return ValidRow(row) ? m_model->RowAt(row).userData : 0;
}

bool CReportCtrl::SetCheck(int row, bool ticked) {
    if (!ValidRow(row))
        return false;
    m_model->SetChecked(row, ticked);
    if (ticked && m_nCheckMode == CheckSingle)
        UntickOthers(row);
    return true;
}

bool CReportCtrl::GetCheck(int row) const {
    return ValidRow(row) && m_model->RowAt(row).checked;
}

bool CReportCtrl::SelectRow(int row, bool select) {
    if (!ValidRow(row))
        return false;
    selectionModel()->select(m_model->index(row, 0), (select ? QItemSelectionModel::Select
                                                             : QItemSelectionModel::Deselect) |
                                                         QItemSelectionModel::Rows);
    return true;
}

void CReportCtrl::FocusRow(int row) {
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

void CReportCtrl::UnselectAll() {
    selectionModel()->clearSelection();
}

void CReportCtrl::UntickOthers(int row) {
    for (int other = 0; other < RowCount(); ++other)
        if (other != row && m_model->RowAt(other).checked)
            m_model->SetChecked(other, false);
}

// ---- Cells ----------------------------------------------------------------

bool CReportCtrl::SetCellText(int row, int column, const QString& text) {
    FinishCellEdit(true);
    MarkUnsorted();
    if (!ValidRow(row) || column < 0 || column >= ColumnCount())
        return false;
    m_model->SetCellText(row, column, text);
    return true;
}

QString CReportCtrl::GetCellText(int row, int column) const {
    if (!ValidRow(row) || column < 0 || column >= ColumnCount())
        return {};
    return m_model->CellAt(row, column).text;
}

bool CReportCtrl::SetCellHex(int row, int column, quint32 value) {
    return SetCellText(row, column, FormatCellHex(value));
}

quint32 CReportCtrl::GetCellHex(int row, int column) const {
    return ParseCellHex(GetCellText(row, column));
}

bool CReportCtrl::SetCellImage(int row, int column, int image) {
    if (!ValidRow(row) || column < 0 || column >= ColumnCount())
        return false;
    m_model->SetCellImage(row, column, qMax(image, -1));
    return true;
}

int CReportCtrl::GetCellImage(int row, int column) const {
    if (!ValidRow(row) || column < 0 || column >= ColumnCount())
        return -1;
    return m_model->CellAt(row, column).image;
}

void CReportCtrl::SetImageList(ReportImageList which, const QList<QPixmap>& images) {
    m_model->SetImages(which, images);
}

// ---- Sorting --------------------------------------------------------------

void CReportCtrl::MarkUnsorted() {
    m_nSortColumn = -1;
    m_bSortAscending = 1;
}

void CReportCtrl::OnHeaderClicked(int column) {
    const bool ascending = !(column == m_nSortColumn && m_bSortAscending);
    SortByColumn(column, ascending);
}

bool CReportCtrl::SortByColumn(int column, bool ascending) {
    FinishCellEdit(true);
    if (column < 0 || column >= ColumnCount())
        return false;
    if (isHeaderHidden() || !header()->sectionsClickable())
        return false;
    m_nSortColumn = column;
    m_bSortAscending = ascending ? 1 : 0;

    const QLocale locale;
    std::vector<CellSortKey> keys;
    keys.reserve(static_cast<size_t>(RowCount()));
    std::vector<int> order;
    order.reserve(static_cast<size_t>(RowCount()));
    for (int row = 0; row < RowCount(); ++row) {
        keys.push_back(MakeCellSortKey(m_model->CellAt(row, column).text, locale));
        order.push_back(row);
    }
    QuickSortRows(order, [&](int a, int b) {
        const int result =
            CompareCellSortKeys(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]);
        return ascending ? result : -result;
    });
    m_model->ReorderRows(order);

    NotifyParent(NotifySorted, static_cast<std::uint32_t>(column), ascending ? 1 : 0);
    return true;
}

int CReportCtrl::CompareCells(int rowA, int rowB) const {
    const int column = m_nSortColumn;
    if (!ValidRow(rowA) || !ValidRow(rowB) || column < 0 || column >= ColumnCount())
        return 0;
    const int result =
        CompareCellTexts(m_model->CellAt(rowA, column).text, m_model->CellAt(rowB, column).text);
    return m_bSortAscending ? result : -result;
}

// ---- In-place editing -----------------------------------------------------

bool CReportCtrl::BeginCellEdit(int row, int column) {
    if (!m_bEditable || !ValidRow(row) || column < 1 || column >= ColumnCount())
        return false;
    if (row == m_nEditRow && column == m_nEditColumn)
        return true;
    FinishCellEdit(true);
    // A handler of the commit may have changed the list.
    if (!m_bEditable || !ValidRow(row) || column >= ColumnCount())
        return false;

    m_nEditRow = row;
    m_nEditColumn = column;
    UnselectAll();
    SelectRow(row, true);
    FocusRow(row);

    if (!m_editor) {
        m_editor = new QLineEdit(viewport());
        m_editor->setFrame(false);
        m_editor->installEventFilter(this);
    }
    m_nEditAlign = m_model->ColumnAt(column).align;
    m_editor->setAlignment(EditorAlignment(m_nEditAlign));
    m_editor->setFont(font());
    QRect label = visualRect(m_model->index(row, column));
    if (m_model->HasImage(row, column))
        label.setLeft(label.left() + kImageWidth);
    m_editor->setGeometry(label);
    m_editor->setText(m_model->CellAt(row, column).text);
    m_editor->show();
    m_editor->selectAll();
    m_editor->setFocus();
    return true;
}

bool CReportCtrl::FinishCellEdit(bool commit) {
    if (!IsEditing())
        return false;
    const int row = m_nEditRow;
    const int column = m_nEditColumn;
    const QString text = m_editor->text();
    // Forget the edit before anything is sent, so that a handler of the
    // notification finds no edit running and may start another.
    m_nEditRow = -1;
    m_nEditColumn = -1;
    const bool hadFocus = m_editor->hasFocus();
    m_editor->hide();
    if (hadFocus)
        setFocus();

    const bool changed = commit && ValidRow(row) && column < ColumnCount() &&
                         text != m_model->CellAt(row, column).text;
    if (changed) {
        m_model->SetCellText(row, column, text);
        MarkUnsorted();
        NotifyParent(NotifyEditCommitted, static_cast<std::uint32_t>(row), column);
    }
    return changed;
}

// ---- Mouse and keys -------------------------------------------------------

bool CReportCtrl::IsOnCheckBox(const QModelIndex& index, const QPoint& pos) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(m_model->index(index.row(), 0));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    return style()
        ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this)
        .contains(pos);
}

void CReportCtrl::mousePressEvent(QMouseEvent* event) {
    HandleMouse(event, false);
}

void CReportCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    HandleMouse(event, true);
}

void CReportCtrl::HandleMouse(QMouseEvent* event, bool doubleClick) {
    const int message = MouseMessageFor(event->button(), doubleClick);
    if (message == 0) {
        doubleClick ? QTreeView::mouseDoubleClickEvent(event) : QTreeView::mousePressEvent(event);
        return;
    }
    const bool left = event->button() == Qt::LeftButton;
    const bool wasEditing = IsEditing();
    FinishCellEdit(true);

    const QPoint pos = event->position().toPoint();
    const QModelIndex hit = indexAt(pos);
    const int row = hit.isValid() ? hit.row() : -1;
    const bool wasTicked = GetCheck(row);
    const int focusedSelected = ItemSelected | ItemFocused;
    const bool wasSelectedAndFocused = (ReadRowFlags(row) & focusedSelected) == focusedSelected;

    // The list's own handling: selection, and for a left click on the check
    // box the toggle of the tick.
    doubleClick ? QTreeView::mouseDoubleClickEvent(event) : QTreeView::mousePressEvent(event);
    if (left && row >= 0 && m_bCheckBoxes && IsOnCheckBox(hit, pos))
        m_model->SetChecked(row, !wasTicked);

    const bool checkChanged = row >= 0 && GetCheck(row) != wasTicked;
    if (checkChanged && m_nCheckMode != CheckNone) {
        if (m_nCheckMode == CheckLocked) {
            m_model->SetChecked(row, wasTicked);
            return;
        }
        if (m_nCheckMode == CheckSingle && GetCheck(row))
            UntickOthers(row);
        UnselectAll();
        SelectRow(row, true);
        FocusRow(row);
        NotifyParent(NotifyCheckChanged, static_cast<std::uint32_t>(row), message);
    }
    if (left && m_bEditable && !checkChanged && !wasEditing && wasSelectedAndFocused)
        BeginCellEdit(row, hit.column());
}

bool CReportCtrl::HandleEditorKey(int key) {
    const int row = m_nEditRow;
    const int column = m_nEditColumn;
    switch (key) {
    case Qt::Key_Tab:
        FinishCellEdit(true);
        BeginCellEdit(row, column + 1); // refused after the last column: the edit ends
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        FinishCellEdit(true);
        return true;
    case Qt::Key_Escape:
        FinishCellEdit(false);
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        FinishCellEdit(true);
        const int next = key == Qt::Key_Up ? row - 1 : row + 1;
        if (ValidRow(next) && column < ColumnCount()) {
            scrollTo(m_model->index(next, column));
            BeginCellEdit(next, column);
        }
        return true;
    }
    default:
        return false;
    }
}

void CReportCtrl::keyPressEvent(QKeyEvent* event) {
    if (IsEditing() ? HandleEditorKey(event->key()) : event->key() == Qt::Key_Space) {
        event->accept(); // ticks are never toggled from the keyboard
        return;
    }
    QTreeView::keyPressEvent(event);
}

bool CReportCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor && event->type() == QEvent::KeyPress && IsEditing() &&
        HandleEditorKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QTreeView::eventFilter(watched, event);
}

// ---- Painting -------------------------------------------------------------

void CReportCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    if (!m_bGridLines)
        return;
    painter->save();
    painter->setPen(palette().color(QPalette::Mid));
    const QRect rect = option.rect;
    int right = rect.left();
    for (int column = 0; column < header()->count(); ++column) {
        if (header()->isSectionHidden(column))
            continue;
        const int x = header()->sectionViewportPosition(column) + header()->sectionSize(column) - 1;
        painter->drawLine(x, rect.top(), x, rect.bottom());
        right = qMax(right, x);
    }
    painter->drawLine(rect.left(), rect.bottom(), right, rect.bottom());
    painter->restore();
}
