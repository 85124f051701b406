#include "controls/color_button.h"

#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

using platform::ColorRef;

void Line(QPainter& painter, const QRect& rect, ColorRef color) {
    if (rect.width() > 0 && rect.height() > 0) {
        painter.fillRect(rect, platform::ToQColor(color));
    }
}

// A ring on (l, t, r, b), right and bottom exclusive: (l,t)-(r,t) and (l,t)-(l,b) in topLeft,
// then (l,b-1)-(r,b-1) and (r-1,t)-(r-1,b) in bottomRight, each without its end point.
void Ring(QPainter& painter, int l, int t, int r, int b, ColorRef topLeft, ColorRef bottomRight) {
    Line(painter, QRect(l, t, r - l, 1), topLeft);
    Line(painter, QRect(l, t, 1, b - t), topLeft);
    Line(painter, QRect(l, b - 1, r - l, 1), bottomRight);
    Line(painter, QRect(r - 1, t, 1, b - t), bottomRight);
}

// A dotted rectangle whose dots invert what lies below, along the inside of `rect`: every other
// pixel of the outline, in a checkerboard anchored at the rectangle's corner, each pixel once.
void FocusRect(QPainter& painter, const QRect& rect) {
    if (rect.width() <= 0 || rect.height() <= 0) {
        return;
    }
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(Qt::white);
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width() - 1;
    const int b = rect.top() + rect.height() - 1;
    auto dot = [&](int x, int y) {
        if ((x - l + y - t) % 2 == 0) {
            painter.drawPoint(x, y);
        }
    };
    for (int x = l; x <= r; ++x) {
        dot(x, t);
        if (b != t) {
            dot(x, b);
        }
    }
    for (int y = t + 1; y < b; ++y) {
        dot(l, y);
        if (r != l) {
            dot(r, y);
        }
    }
    painter.restore();
}

} // namespace

CColorButton::CColorButton(QWidget* parent)
    : QPushButton(parent), textColor(platform::GetSysColor(platform::SysColor::ButtonText)),
      faceColor(platform::GetSysColor(platform::SysColor::ButtonFace)),
      disabledFaceColor(platform::GetSysColor(platform::SysColor::ButtonFace)),
      lightColor(platform::GetSysColor(platform::SysColor::Light3D)),
      highlightColor(platform::GetSysColor(platform::SysColor::ButtonHighlight)),
      shadowColor(platform::GetSysColor(platform::SysColor::ButtonShadow)),
      darkShadowColor(platform::GetSysColor(platform::SysColor::DarkShadow3D)) {
    setAttribute(Qt::WA_OpaquePaintEvent); // the drawing fills the whole button
}

CColorButton::~CColorButton() = default;

void CColorButton::SetColors(platform::ColorRef text, platform::ColorRef face) {
    textColor = text;
    faceColor = face;
    update();
}

void CColorButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    ItemState state;
    state.pressed = isDown();
    state.disabled = !isEnabled();
    state.focused = hasFocus();
    state.isDefault = isDefault();
    DrawItem(painter, rect(), state);
}

void CColorButton::DrawItem(QPainter& painter, const QRect& rect, const ItemState& state) const {
    painter.save();
    painter.setFont(font());
    Line(painter, rect, state.disabled ? disabledFaceColor : faceColor);

    int l = rect.left();
    int t = rect.top();
    int r = rect.left() + rect.width();
    int b = rect.top() + rect.height();
    auto ring = [&](ColorRef topLeft, ColorRef bottomRight) {
        Ring(painter, l, t, r, b, topLeft, bottomRight);
        ++l;
        ++t;
        --r;
        --b;
    };
    if (state.pressed) {
        ring(darkShadowColor, darkShadowColor);
        ring(shadowColor, shadowColor);
    } else {
        if (state.focused || state.isDefault) {
            ring(0, 0);
        }
        ring(highlightColor, darkShadowColor);
        ring(lightColor, shadowColor);
    }

    if (state.disabled) {
        DrawText(painter, rect.translated(1, 1), rect, platform::Rgb(255, 255, 255));
        DrawText(painter, rect.translated(-1, -1), rect, platform::Rgb(128, 128, 128));
    } else if (state.pressed) {
        DrawText(painter, rect.translated(1, 1), rect, textColor);
    } else {
        DrawText(painter, rect.translated(-1, -1), rect, textColor);
    }

    if (state.focused) {
        FocusRect(painter, rect.adjusted(4, 4, -4, -4));
    }
    painter.restore();
}

void CColorButton::DrawText(QPainter& painter, const QRect& q, const QRect& button,
                            platform::ColorRef color) const {
    const std::uint32_t style = platform::GetStyle(this);
    const QString caption = text();
    const QStringList lines = (style & platform::BsMultiLine) != 0
                                  ? caption.split(QLatin1Char('\n'))
                                  : QStringList{caption};
    const int n = static_cast<int>(lines.size());
    const int h = QFontMetrics(painter.font()).height();

    int y0 = 0;
    switch (style & platform::BsVCenter) {
    case platform::BsBottom:
        y0 = q.top() + q.height() - n * h - 2;
        break;
    case platform::BsTop:
        y0 = q.top() + 2;
        break;
    default: // centred: measured from the button's top, so pressing moves the text sideways only
        y0 = button.top() + (q.height() - n * h) / 2 - 1;
        break;
    }

    int flags = Qt::AlignHCenter | Qt::AlignTop;
    switch (style & platform::BsCenter) {
    case platform::BsLeft:
        flags = Qt::AlignLeft | Qt::AlignTop;
        break;
    case platform::BsRight:
        flags = Qt::AlignRight | Qt::AlignTop;
        break;
    case platform::BsCenter:
        break;
    default: // one centred line, vertically centred in its line box
        flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
        break;
    }

    const QPen previous = painter.pen();
    painter.setPen(platform::ToQColor(color));
    for (int i = 0; i < n; ++i) {
        const QRect line(QPoint(q.left() + 3, y0 + i * h),
                         QPoint(q.left() + q.width() - 3 - 1, y0 + (i + 1) * h - 1));
        painter.drawText(line, flags, lines[i]);
    }
    painter.setPen(previous);
}
