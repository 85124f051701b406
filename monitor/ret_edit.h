#pragma once
// CRetEdit: a single-line edit in which Return moves the focus on to the next control, as Tab
// does, instead of acting on the form. Dropped files are not its text: a drag that carries
// files is left to the window, which opens the file as its document.

#include <QLineEdit>

class CRetEdit : public QLineEdit {
public:
    explicit CRetEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Return and Enter never reach the form's shortcuts.
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
