#pragma once
// Item model of the traffic list over CTrafficStore. Lines are added to the store at once;
// attached views learn about them only when Publish() is called, so that a burst of lines at
// full bus load costs one row insertion for the views instead of one per line.

#include "monitor/traffic/traffic_store.h"

#include <QAbstractListModel>

class CTrafficModel : public QAbstractListModel {
public:
    explicit CTrafficModel(QObject* parent = nullptr);

    // Lines held, also those not yet published.
    std::int64_t LineCount() const { return m_store.Count(); }
    // Adds a line at the end. Refused (returns false) when the list has reached the most
    // rows an item view can hold.
    bool AddLine(const TrafficLine& line);
    // Replaces the last line; adds it when the list is empty.
    void ReplaceLastLine(const TrafficLine& line);
    void Clear();
    std::string LineText(std::int64_t row) const { return m_store.Text(row); }

    // Tells the views about lines added or changed since the last call; returns true when rows
    // were added.
    bool Publish();

    const CTrafficStore& Store() const { return m_store; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    CTrafficStore m_store;
    int m_published = 0;   // rows the views know of
    int m_changedRow = -1; // a published row replaced since the last Publish
};
