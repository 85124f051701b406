#pragma once
// The find bar under the traffic list (Ctrl+F): hex bytes as typed, "Next", "Previous" and
// "N of M". The line found is selected and scrolled into view; the search wraps around the ends
// of the list. The bar sits over the bottom edge of the list, which keeps its rows clear of it.

#include "monitor/traffic/traffic_finder.h"

#include <QWidget>

class CTrafficList;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CTrafficFindBar : public QWidget {
public:
    // `parent` is the widget the list lies on; Ctrl+F anywhere in it opens the bar.
    CTrafficFindBar(CTrafficList& list, QWidget* parent);

    void Open();
    void Close();
    // Selects the next (or previous) matching line; false when none matches.
    bool FindNext();
    bool FindPrevious();

    QLineEdit* Edit() const { return m_edit; }
    QString ResultText() const;
    const CTrafficFinder& Finder() const { return m_finder; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Place();
    void PatternChanged();
    void ShowResult();
    bool Go(std::int64_t row);
    std::int64_t CurrentRow() const;

    CTrafficList& m_list;
    CTrafficFinder m_finder;
    QLineEdit* m_edit;
    QPushButton* m_next;
    QPushButton* m_previous;
    QLabel* m_result;
    QToolButton* m_close;
};
