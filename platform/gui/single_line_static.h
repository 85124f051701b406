#pragma once
// A static text one line high: it never wraps. A text too long for it is elided in the middle,
// so both ends (a path's folder and its file name) stay in sight, and the whole text is then
// its tooltip. text() and what assistive technology reads stay the whole text.

#include <QLabel>

namespace platform {

class SingleLineStatic : public QLabel {
public:
    explicit SingleLineStatic(const QString& text, QWidget* parent = nullptr);

    // The text as it fits the control now.
    QString ShownText() const;
    // Sets the tooltip to the whole text while it does not fit, else clears it.
    void RefreshToolTip();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace platform
