#include "controls/report_model.h"

#include "controls/report_ctrl.h"

namespace {

Qt::Alignment ToQtAlignment(ColumnAlign align) {
    switch (align) {
    case AlignCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case AlignRight:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

} // namespace

int ReportModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int ReportModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount();
}

QVariant ReportModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return CellAt(row, column).text;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ToQtAlignment(ColumnAt(column).align));
    case Qt::DecorationRole:
        if (HasImage(row, column))
            return m_images[ImageListSmall].at(CellAt(row, column).image);
        return {};
    case Qt::CheckStateRole:
        if (column == 0 && m_checkBoxesShown)
            return RowAt(row).checked ? Qt::Checked : Qt::Unchecked;
        return {};
    default:
        return {};
    }
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount())
        return {};
    if (role == Qt::DisplayRole)
        return ColumnAt(section).title;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(ToQtAlignment(ColumnAt(section).align));
    return {};
}

Qt::ItemFlags ReportModel::flags(const QModelIndex& index) const {
    // Not user-checkable: the control toggles ticks itself, on the press, so
    // that it can apply the check modes.
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool ReportModel::HasImage(int row, int column) const {
    const int image = CellAt(row, column).image;
    return image >= 0 && image < m_images[ImageListSmall].size();
}

bool ReportModel::HasSmallImages() const {
    return !m_images[ImageListSmall].isEmpty();
}

void ReportModel::InsertColumn(int column, const ReportColumnSpec& spec) {
    beginInsertColumns(QModelIndex(), column, column);
    m_columns.insert(m_columns.begin() + column, spec);
    for (Row& row : m_rows)
        row.cells.insert(row.cells.begin() + column, Cell{});
    endInsertColumns();
}

void ReportModel::RemoveColumn(int column) {
    beginRemoveColumns(QModelIndex(), column, column);
    m_columns.erase(m_columns.begin() + column);
    for (Row& row : m_rows)
        row.cells.erase(row.cells.begin() + column);
    endRemoveColumns();
}

void ReportModel::InsertRow(int row, const QString& text) {
    beginInsertRows(QModelIndex(), row, row);
    Row record;
    record.cells.resize(m_columns.size());
    if (!record.cells.empty())
        record.cells[0].text = text;
    m_rows.insert(m_rows.begin() + row, std::move(record));
    endInsertRows();
}

void ReportModel::RemoveRow(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void ReportModel::RemoveAllRows() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void ReportModel::SetCellText(int row, int column, const QString& text) {
    m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)].text = text;
    CellChanged(row, column, Qt::DisplayRole);
}

void ReportModel::SetCellImage(int row, int column, int image) {
    m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(column)].image = image;
    CellChanged(row, column, Qt::DecorationRole);
}

void ReportModel::SetChecked(int row, bool checked) {
    m_rows[static_cast<size_t>(row)].checked = checked;
    if (ColumnCount() > 0)
        CellChanged(row, 0, Qt::CheckStateRole);
}

void ReportModel::SetUserData(int row, quint32 value) {
    m_rows[static_cast<size_t>(row)].userData = value;
}

void ReportModel::SetCheckBoxesShown(bool shown) {
    if (shown == m_checkBoxesShown)
        return;
    // The check box changes the size of column 0's cells: relayout everything.
    emit layoutAboutToBeChanged();
    m_checkBoxesShown = shown;
    emit layoutChanged();
}

void ReportModel::SetImages(int which, const QList<QPixmap>& images) {
    if (which != ImageListNormal && which != ImageListSmall)
        return;
    emit layoutAboutToBeChanged();
    m_images[which] = images;
    emit layoutChanged();
}

void ReportModel::ReorderRows(const std::vector<int>& order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::vector<Row> sorted;
    sorted.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[static_cast<size_t>(order[i])]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(this->index(newRowOf[static_cast<size_t>(index.row())], index.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ReportModel::CellChanged(int row, int column, int role) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {role});
}
