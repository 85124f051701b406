#pragma once
// A bar that lies over the top or the bottom edge of the traffic list (the find bar, the
// filter bar): the list keeps its rows clear of it, it follows the list's size, it is opened
// by a shortcut that works anywhere in the window, and Esc closes it.

#include <QWidget>

class CTrafficList;
class QAction;

class CListBar : public QWidget {
public:
    enum class Edge { Top, Bottom };

    // `parent` is the widget the list lies on; `openText` and `shortcut` make OpenAction.
    CListBar(CTrafficList& list, QWidget* parent, Edge edge, const QString& openText,
             const QKeySequence& shortcut);

    virtual void Open() = 0;
    virtual void Close() = 0;
    // The shortcut, for menus that offer it too.
    QAction* OpenAction() const { return m_openAction; }

protected:
    // Shows the bar on its edge of the list, with room made for it; hides it again.
    void ShowOnList();
    void HideFromList();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    CTrafficList& m_list;

private:
    void Place();
    void SetMargin(int pixels);

    Edge m_edge;
    QAction* m_openAction;
};
