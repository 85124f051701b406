#include "platform/gui/single_line_static.h"

#include <QPainter>
#include <QStyle>

namespace platform {

SingleLineStatic::SingleLineStatic(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setWordWrap(false);
}

QString SingleLineStatic::ShownText() const {
    const int room = contentsRect().width() - 2 * qMax(margin(), 0);
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, qMax(room, 0));
}

void SingleLineStatic::RefreshToolTip() {
    const QString tip = ShownText() == text() ? QString() : text();
    if (toolTip() != tip) {
        setToolTip(tip);
    }
}

void SingleLineStatic::paintEvent(QPaintEvent*) {
    RefreshToolTip(); // the text may have been set directly
    QPainter painter(this);
    drawFrame(&painter);
    const int inset = qMax(margin(), 0);
    const QRect room = contentsRect().adjusted(inset, 0, -inset, 0);
    style()->drawItemText(&painter, room, int(alignment()) | Qt::TextSingleLine, palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

void SingleLineStatic::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    RefreshToolTip();
}

} // namespace platform
