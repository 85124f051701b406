#include "monitor/traffic/traffic_model.h"

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
    if (last >= 0 && last < m_published)
        m_changedRow = static_cast<int>(last);
}

void CTrafficModel::Clear() {
    beginResetModel();
    m_store.Clear();
    m_published = 0;
    m_changedRow = -1;
    endResetModel();
}

bool CTrafficModel::Publish() {
    if (m_changedRow >= 0) {
        const QModelIndex changed = index(m_changedRow);
        m_changedRow = -1;
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
    const int count = static_cast<int>(m_store.Count());
    if (count <= m_published)
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
    const std::string text = m_store.Text(index.row());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
