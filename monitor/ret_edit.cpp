#include "monitor/ret_edit.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>

namespace {
bool IsReturn(const QKeyEvent& key) {
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

bool CarriesFiles(const QDropEvent& event) {
    return event.mimeData() != nullptr && event.mimeData()->hasUrls();
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

void CRetEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (CarriesFiles(*event)) {
        event->ignore(); // goes on to the window
        return;
    }
    QLineEdit::dragEnterEvent(event);
}

void CRetEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (CarriesFiles(*event)) {
        event->ignore();
        return;
    }
    QLineEdit::dragMoveEvent(event);
}

void CRetEdit::dropEvent(QDropEvent* event) {
    if (CarriesFiles(*event)) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
}
