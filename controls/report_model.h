#pragma once

#include "controls/report_columns.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPixmap>
#include <vector>

// The rows and columns behind a CReportCtrl. Every row owns its record (the
// user value and the tick) and one text and image per column.
class ReportModel : public QAbstractTableModel {
public:
    struct Cell {
        QString text;
        int image = -1;
    };
    struct Row {
        std::vector<Cell> cells;
        bool checked = false;
        quint32 userData = 0;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    const Row& RowAt(int row) const { return m_rows[static_cast<size_t>(row)]; }
    const ReportColumnSpec& ColumnAt(int column) const {
        return m_columns[static_cast<size_t>(column)];
    }
    const Cell& CellAt(int row, int column) const {
        return RowAt(row).cells[static_cast<size_t>(column)];
    }
    bool HasImage(int row, int column) const;
    bool HasSmallImages() const;

    void InsertColumn(int column, const ReportColumnSpec& spec);
    void RemoveColumn(int column);
    void InsertRow(int row, const QString& text);
    void RemoveRow(int row);
    void RemoveAllRows();
    void SetCellText(int row, int column, const QString& text);
    void SetCellImage(int row, int column, int image);
    void SetChecked(int row, bool checked);
    void SetUserData(int row, quint32 value);
    void SetCheckBoxesShown(bool shown);
    void SetImages(int which, const QList<QPixmap>& images);

    // Puts the rows in the order given by old row indices; selection and the
    // current row travel with their rows.
    void ReorderRows(const std::vector<int>& order);

private:
    void CellChanged(int row, int column, int role);

    std::vector<ReportColumnSpec> m_columns;
    std::vector<Row> m_rows;
    QList<QPixmap> m_images[2];
    bool m_checkBoxesShown = false;
};
