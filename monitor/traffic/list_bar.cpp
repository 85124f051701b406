#include "monitor/traffic/list_bar.h"

#include "monitor/traffic/traffic_list.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>

CListBar::CListBar(CTrafficList& list, QWidget* parent, Edge edge, const QString& openText,
                   const QKeySequence& shortcut)
    : QWidget(parent), m_list(list), m_edge(edge), m_openAction(new QAction(openText, parent)) {
    setAutoFillBackground(true);
    // Anywhere in the window, wherever the focus is (it starts on the form's scroll area).
    m_openAction->setShortcut(shortcut);
    m_openAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_openAction, &QAction::triggered, this, [this] { Open(); });
    parent->addAction(m_openAction);
    m_list.installEventFilter(this);
    hide();
}

void CListBar::ShowOnList() {
    show();
    raise();
    SetMargin(sizeHint().height());
    Place();
}

void CListBar::HideFromList() {
    hide();
    SetMargin(0);
    m_list.setFocus(Qt::OtherFocusReason);
}

void CListBar::SetMargin(int pixels) {
    if (m_edge == Edge::Top)
        m_list.SetTopMargin(pixels);
    else
        m_list.SetBottomMargin(pixels);
}

void CListBar::Place() {
    const QRect viewport = m_list.viewport()->geometry();
    const int height = sizeHint().height();
    const QPoint corner = m_edge == Edge::Top ? QPoint(viewport.left(), viewport.top() - height)
                                              : QPoint(viewport.left(), viewport.bottom() + 1);
    setGeometry(QRect(m_list.mapTo(parentWidget(), corner), QSize(viewport.width(), height)));
}

bool CListBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_list && isVisible() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move ||
         event->type() == QEvent::LayoutRequest))
        Place();
    return QWidget::eventFilter(watched, event);
}

void CListBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Close();
        return;
    }
    QWidget::keyPressEvent(event);
}
