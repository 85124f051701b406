#include "monitor/traffic/traffic_model.h"

#include <algorithm>
#include <climits>

CTrafficModel::CTrafficModel(QObject* parent) : QAbstractListModel(parent) {}

bool CTrafficModel::AddLine(const TrafficLine& line) {
    if (m_store.Count() >= INT_MAX)
        return false;
    m_store.Append(line);
    return true;
}

void CTrafficModel::ReplaceLastLine(const TrafficLine& line) {
    const std::int64_t last = m_store.Count() - 1;
    m_store.ReplaceLast(line);
    if (last >= 0)
        m_changedRow = last;
}

std::string CTrafficModel::LineText(std::int64_t row) const {
    const std::int64_t storeRow = m_filter.StoreRow(row);
    return storeRow >= 0 && storeRow < m_store.Count() ? m_store.Text(storeRow) : std::string();
}

void CTrafficModel::SetFilter(const FilterCriteria& criteria) {
    if (criteria == m_filter.Criteria())
        return;
    beginResetModel();
    m_filter.SetCriteria(criteria);
    m_filter.Update(m_store);
    m_published = static_cast<int>(std::min<std::int64_t>(m_filter.Count(), INT_MAX));
    m_changedRow = -1;
    endResetModel();
}

void CTrafficModel::Clear() {
    beginResetModel();
    m_store.Clear();
    m_filter.Update(m_store);
    m_published = 0;
    m_changedRow = -1;
    endResetModel();
}

bool CTrafficModel::Publish() {
    m_filter.Update(m_store);
    if (m_changedRow >= 0) {
        const std::int64_t row = m_filter.ShownRow(m_changedRow);
        if (row >= 0 && row < m_published && m_filter.StoreRow(row) == m_changedRow) {
            const QModelIndex changed = index(static_cast<int>(row));
            emit dataChanged(changed, changed, {Qt::DisplayRole});
        }
        m_changedRow = -1;
    }
    const int count = static_cast<int>(std::min<std::int64_t>(m_filter.Count(), INT_MAX));
    if (count < m_published) { // a replaced line left the filter
        beginResetModel();
        m_published = count;
        endResetModel();
        return false;
    }
    if (count == m_published)
        return false;
    beginInsertRows(QModelIndex(), m_published, count - 1);
    m_published = count;
    endInsertRows();
    return true;
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_published;
}

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_published)
        return {};
    const std::string text = LineText(index.row());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
