#include "controls/status_ctrl.h"

#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QPainter>
#include <QRegion>

namespace {

void FillRect(QPainter& painter, const QRect& rect, platform::ColorRef color) {
    if (rect.isValid()) {
        painter.fillRect(rect, platform::ToQColor(color));
    }
}

// One ring of a sunken or raised edge: top and left in one colour, bottom and right in another.
void EdgeRing(QPainter& painter, const QRect& r, platform::ColorRef topLeft,
              platform::ColorRef bottomRight) {
    const int l = r.left();
    const int t = r.top();
    const int w = r.width();
    const int h = r.height();
    FillRect(painter, QRect(l, t, w, 1), topLeft);
    FillRect(painter, QRect(l, t, 1, h), topLeft);
    FillRect(painter, QRect(l, t + h - 1, w, 1), bottomRight);
    FillRect(painter, QRect(l + w - 1, t, 1, h), bottomRight);
}

} // namespace

CStatusCtrl::CStatusCtrl(QWidget* parent) : QWidget(parent) {
    platform::RegisterWindowClass(QString::fromLatin1(WindowClass));
    setObjectName(QString::fromLatin1(WindowClass));
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole control
}

CStatusCtrl::~CStatusCtrl() = default;

bool CStatusCtrl::Create(std::uint32_t style, const QRect& rect, QWidget* parent, int id) {
    if (parent == nullptr) {
        return false;
    }
    setParent(parent);
    setGeometry(rect);
    setWindowTitle(QString());
    platform::SetClassName(this, QString::fromLatin1(WindowClass));
    platform::SetStyle(this, style);
    platform::SetControlId(this, id);
    setVisible((style & platform::WsVisible) != 0);
    OnAttach();
    return true;
}

void CStatusCtrl::OnAttach() {
    rangeLow = 0;
    rangeHigh = 100;
    position = 0;
    text.clear();
    lampColor = platform::Rgb(0, 255, 0);
    backColor = platform::GetSysColor(platform::SysColor::ButtonFace);
    textColor = platform::GetSysColor(platform::SysColor::ButtonText);
    barColor = platform::Rgb(0, 255, 255); // 0xFFFF00, cyan
}

void CStatusCtrl::SetRange(std::uint32_t low, std::uint32_t high) {
    rangeLow = low;
    rangeHigh = high;
}

std::uint32_t CStatusCtrl::SetPosition(std::uint32_t value) {
    const std::uint32_t previous = position;
    if (value < rangeLow) {
        value = rangeLow;
    } else if (value > rangeHigh) {
        value = rangeHigh;
    }
    position = value;
    update();
    return previous;
}

void CStatusCtrl::SetText(const QString& newText) {
    text = newText;
    update();
}

void CStatusCtrl::SetLampColor(platform::ColorRef color) {
    lampColor = color;
    update();
}

std::int64_t CStatusCtrl::SplitX(int barWidth) const {
    // An empty range or a position below it shows an empty bar, one above it a full bar. The
    // product is taken in 64 bits so that large ranges do not wrap.
    if (rangeHigh <= rangeLow || position <= rangeLow || barWidth <= 0) {
        return 0;
    }
    if (position >= rangeHigh) {
        return barWidth;
    }
    return static_cast<std::int64_t>(position - rangeLow) * barWidth / (rangeHigh - rangeLow);
}

void CStatusCtrl::paintEvent(QPaintEvent*) {
    const QRect r = rect();
    const int h = r.height();
    const QRect lamp(r.right() + 1 - h, r.top(), h, h);   // S
    const QRect bar(r.left(), r.top(), r.width() - h, h); // B
    const QRect disc = lamp.adjusted(3, 3, -3, -3);       // L
    const int split = bar.left() + static_cast<int>(SplitX(bar.width()));
    const QRect done(bar.left(), bar.top(), split - bar.left(), h); // D
    const QRect rest(split, bar.top(), bar.right() + 1 - split, h); // T

    offscreen = QImage(r.size(), QImage::Format_RGB32);
    {
        QPainter memory(&offscreen);
        memory.setFont(font());
        FillRect(memory, done, barColor);
        FillRect(memory, rest, backColor);
        FillRect(memory, lamp, platform::GetSysColor(platform::SysColor::ButtonFace));

        if (disc.isValid()) {
            memory.setClipRegion(QRegion(disc, QRegion::Ellipse));
            FillRect(memory, disc, lampColor);
        }
        const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
        memory.setClipRect(rest);
        memory.setPen(platform::ToQColor(textColor));
        memory.drawText(bar, flags, text);
        if (done.isValid()) {
            memory.setClipRect(done);
            memory.setPen(platform::ToQColor(platform::GetSysColor(platform::SysColor::Desktop)));
            memory.drawText(bar, flags, text);
        }
    }
    QPainter painter(this);
    painter.drawImage(0, 0, offscreen);
    // Etched edge: a sunken outer ring and a raised inner one.
    const platform::ColorRef light = platform::GetSysColor(platform::SysColor::ButtonHighlight);
    const platform::ColorRef shadow = platform::GetSysColor(platform::SysColor::ButtonShadow);
    EdgeRing(painter, r, shadow, light);
    EdgeRing(painter, r.adjusted(1, 1, -1, -1), light, shadow);
}
