#pragma once
// The find bar under the traffic list (Ctrl+F): hex bytes as typed, "Next", "Previous" and
// "N of M". The line found is selected and scrolled into view; the search wraps around the ends
// of the list. The bar sits over the bottom edge of the list, which keeps its rows clear of it.

#include "monitor/traffic/traffic_finder.h"

#include "monitor/traffic/list_bar.h"

#include <QTimer>

class CTrafficList;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CTrafficFindBar : public CListBar {
public:
    // Up to this many lines the list is searched at every keystroke; in a longer one the search
    // waits until typing pauses for kTypingPauseMs, so that typing stays fluid.
    static constexpr std::int64_t kSearchAsYouTypeLines = 200000;
    static constexpr int kTypingPauseMs = 250;

    // `parent` is the widget the list lies on; Ctrl+F anywhere in it opens the bar.
    CTrafficFindBar(CTrafficList& list, QWidget* parent);

    void Open() override;
    void Close() override;
    // Selects the next (or previous) matching line; false when none matches.
    bool FindNext();
    bool FindPrevious();

    QLineEdit* Edit() const { return m_edit; }
    bool SearchPending() const { return m_typingPause.isActive(); }
    QString ResultText() const;
    const CTrafficFinder& Finder() const { return m_finder; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PatternChanged();
    void Search();
    void ShowResult();
    bool Go(std::int64_t row);
    std::int64_t CurrentRow() const; // store row of the current line, -1 for none
    void UpdateFinder();

    CTrafficFinder m_finder;
    QLineEdit* m_edit;
    QPushButton* m_next;
    QPushButton* m_previous;
    QLabel* m_result;
    QToolButton* m_close;
    QTimer m_typingPause;
};
