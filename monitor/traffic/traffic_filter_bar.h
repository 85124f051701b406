#pragma once
// The filter bar over the top of the traffic list (Ctrl+L): show only the lines of one kind, or
// all but those, and/or only the messages with one opcode, with the count of lines shown and
// hidden. Filtering narrows the view only: the store, the capture file and the bus figures keep
// every line. "Clear", and closing the bar, show every line again, in place.

#include "monitor/traffic/list_bar.h"
#include "monitor/traffic/traffic_filter.h"

class CTrafficList;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

class CTrafficFilterBar : public CListBar {
public:
    // `parent` is the widget the list lies on; Ctrl+L anywhere in its window opens the bar.
    CTrafficFilterBar(CTrafficList& list, QWidget* parent);

    void Open() override;
    // Closes the bar and shows every line again.
    void Close() override;
    // Shows every line again; the bar stays open.
    void ClearFilter();
    void SetCriteria(const FilterCriteria& criteria);

    QComboBox* ModeBox() const { return m_mode; }
    QComboBox* KindBox() const { return m_kind; }
    QLineEdit* OpcodeEdit() const { return m_opcode; }
    QString CountText() const;

private:
    void Apply();
    void ShowCount();

    QComboBox* m_mode;
    QComboBox* m_kind;
    QLineEdit* m_opcode;
    QLabel* m_count;
    QToolButton* m_clear;
    QToolButton* m_close;
    bool m_applying = false; // the boxes are being set from criteria
};
