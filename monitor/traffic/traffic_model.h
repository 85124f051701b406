#pragma once
// Item model of the traffic list over CTrafficStore. Lines are added to the store at once;
// attached views learn about them only when Publish() is called, so that a burst of lines at
// full bus load costs one row insertion for the views instead of one per line. A filter
// narrows the rows the views see; the store keeps every line. Rows of the model ("view rows")
// are store rows when no filter is set.

#include "monitor/traffic/traffic_filter.h"
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
    // The text of view row `row`; empty when there is none.
    std::string LineText(std::int64_t row) const;

    // Which lines the views see. Setting it resets the views.
    void SetFilter(const FilterCriteria& criteria);
    const CTrafficFilter& Filter() const { return m_filter; }
    // The store row of a view row (-1 when there is none), and the view row of a store row or
    // of the nearest shown line before it (-1 when nothing is shown).
    std::int64_t StoreRow(std::int64_t row) const { return m_filter.StoreRow(row); }
    std::int64_t ViewRow(std::int64_t storeRow) const { return m_filter.ShownRow(storeRow); }

    // Tells the views about lines added or changed since the last call; returns true when rows
    // were added.
    bool Publish();

    const CTrafficStore& Store() const { return m_store; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    CTrafficStore m_store;
    CTrafficFilter m_filter;
    int m_published = 0;            // rows the views know of
    std::int64_t m_changedRow = -1; // store row replaced since the last Publish
};
