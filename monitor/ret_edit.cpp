#include "monitor/ret_edit.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace {
bool IsReturn(const QKeyEvent& key) {
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}
} // namespace

void CRetEdit::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(*event)) {
        // A Tab press of our own, handled after this one like a typed Tab: the focus moves on
        // and the edit's text is kept by its focus-loss handling.
        QCoreApplication::postEvent(this,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

bool CRetEdit::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsReturn(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}
