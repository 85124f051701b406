#pragma once

#include "controls/report_columns.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QTreeView>
#include <cstdint>
#include <functional>

class QLineEdit;
class ReportModel;

// Check-box modes of a report list.
enum ReportCheckMode : int {
    CheckNone = 0,   // no check boxes
    CheckMulti = 1,  // any number of rows may be ticked
    CheckSingle = 2, // ticking a row unticks every other row
    CheckLocked = 3, // boxes shown, mouse clicks do not change them
};

// Row flags: they describe a row and, as a filter, select rows. A filter
// matches a row when it is non-zero and holds ItemAny or all of its bits are
// present in the row's flags.
enum ReportRowFlag : int {
    ItemAny = 0x01,
    ItemSelected = 0x02,
    ItemUnselected = 0x04,
    ItemChecked = 0x08,
    ItemUnchecked = 0x10,
    ItemFocused = 0x20,
    ItemUnfocused = 0x40,
};

// Notifications sent synchronously to the parent.
enum ReportNotify : unsigned {
    NotifyCheckChanged = 0xA710,  // wParam row, lParam the mouse message that caused it
    NotifySorted = 0xA711,        // wParam column, lParam 1 ascending, 0 descending
    NotifyEditCommitted = 0xA712, // wParam row, lParam column
};

// The mouse message carried by NotifyCheckChanged.
enum ReportMouseMessage : int {
    MouseLeftDown = 0x0201,
    MouseLeftDoubleClick = 0x0203,
    MouseRightDown = 0x0204,
    MouseRightDoubleClick = 0x0206,
    MouseMiddleDown = 0x0207,
    MouseMiddleDoubleClick = 0x0209,
};

// The two image lists of a report list; rows show images of the small one.
enum ReportImageList : int { ImageListNormal = 0, ImageListSmall = 1 };

// A multi-column list in report view: columns from one description string,
// check boxes with several modes, a 32-bit user value per row, hexadecimal
// cells, row selection by state flags, sorting by header click and in-place
// editing of cells. Row and column indices out of range make an operation
// return false, 0 or -1 and change nothing.
class CReportCtrl : public QTreeView {
public:
    using NotifyHandler =
        std::function<void(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam)>;

    explicit CReportCtrl(QWidget* parent = nullptr);
    ~CReportCtrl() override;

    // Receives the notifications; by default they go nowhere.
    void SetNotifyHandler(NotifyHandler handler);

    // Columns.
    bool DefineColumns(const QString& spec);
    int AddColumn(int index, const QString& title, ColumnAlign format = AlignLeft, int width = 100);
    bool RemoveColumn(int index);
    void RemoveAllColumns();
    int ColumnCount() const;
    QString GetColumnTitle(int column) const;
    ColumnAlign GetColumnAlign(int column) const;

    // Look and behaviour.
    void ShowGridLines(bool on);
    bool HasGridLines() const { return m_bGridLines != 0; }
    bool SetCheckMode(int mode);
    int GetCheckMode() const { return m_nCheckMode; }
    bool CheckBoxesShown() const { return m_bCheckBoxes != 0; }
    void AllowEditing(bool on);
    bool IsEditingAllowed() const { return m_bEditable != 0; }

    // Rows.
    int RowCount() const;
    int InsertRow(int row, const QString& text);
    bool DeleteRow(int row, bool selectNext = false);
    int DeleteRows(int filter);
    int CountRows(int filter) const;
    int FindNextRow(int filter, int after = -1) const;
    int ReadRowFlags(int row) const;
    bool ApplyRowFlags(int row, int flags);
    int ApplyFlagsToRows(int filter, int flags);
    bool SetRowData(int row, quint32 value);
    quint32 GetRowData(int row) const;
    bool SetCheck(int row, bool ticked);
    bool GetCheck(int row) const;

    // Cells.
    bool SetCellText(int row, int column, const QString& text);
    QString GetCellText(int row, int column) const;
    bool SetCellHex(int row, int column, quint32 value);
    quint32 GetCellHex(int row, int column) const;
    bool SetCellImage(int row, int column, int image);
    int GetCellImage(int row, int column) const; // -1 when the cell has none
    void SetImageList(ReportImageList which, const QList<QPixmap>& images);

    // Sorting.
    bool SortByColumn(int column, bool ascending);
    int CompareCells(int rowA, int rowB) const; // on the sort column
    int GetSortColumn() const { return m_nSortColumn; }
    bool IsSortAscending() const { return m_bSortAscending != 0; }

    // In-place editing.
    bool BeginCellEdit(int row, int column);
    bool FinishCellEdit(bool commit = true);
    bool IsEditing() const { return m_nEditRow >= 0; }
    int GetEditRow() const { return m_nEditRow; }
    int GetEditColumn() const { return m_nEditColumn; }

protected:
    // Delivers a notification; the default passes it to the handler.
    virtual void NotifyParent(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    void HandleMouse(QMouseEvent* event, bool doubleClick);
    bool HandleEditorKey(int key);
    bool IsOnCheckBox(const QModelIndex& index, const QPoint& pos);
    bool ValidRow(int row) const;
    bool Matches(int row, int filter) const;
    bool SelectRow(int row, bool select);
    void FocusRow(int row);
    void UnselectAll();
    void UntickOthers(int row);
    void MarkUnsorted();
    void OnHeaderClicked(int column);

    ReportModel* m_model;
    QLineEdit* m_editor = nullptr; // the cell editor, created on first use
    NotifyHandler m_notify;

    int m_bEditable = 0;
    int m_nEditRow = -1;
    int m_nEditColumn = -1;
    int m_nCheckMode = CheckMulti;
    int m_bCheckBoxes = 0; // boxes appear once SetCheckMode has been called
    int m_nEditAlign = AlignLeft;
    int m_nSortColumn = -1;
    int m_bSortAscending = 1;
    int m_bGridLines = 0;
};
