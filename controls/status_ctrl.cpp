#include "controls/status_ctrl.h"

#include "platform/gui/accessible_events.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/window_class.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace {

// What assistive technology reads of the lamp: a progress bar named by its status text, whose
// value is the position within the range.
class StatusLampAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit StatusLampAccessible(CStatusCtrl* lamp)
        : QAccessibleWidget(lamp, QAccessible::ProgressBar), lamp_(lamp) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return lamp_->text;
        }
        if (t == QAccessible::Value) {
            return QString::number(lamp_->position);
        }
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return QVariant::fromValue(lamp_->position); }
    void setCurrentValue(const QVariant&) override {} // the program sets the progress
    QVariant maximumValue() const override { return QVariant::fromValue(lamp_->rangeHigh); }
    QVariant minimumValue() const override { return QVariant::fromValue(lamp_->rangeLow); }
    QVariant minimumStepSize() const override { return QVariant::fromValue(0u); }

private:
    CStatusCtrl* lamp_;
};

QAccessibleInterface* StatusLampFactory(const QString&, QObject* object) {
    if (auto* lamp = dynamic_cast<CStatusCtrl*>(object)) {
        return new StatusLampAccessible(lamp);
    }
    return nullptr;
}

void SendValueChanged(CStatusCtrl* lamp) {
    platform::SendAccessibleValueChanged(lamp, QVariant::fromValue(lamp->position));
}

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
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(StatusLampFactory);
        return true;
    }();
    (void)factoryInstalled;
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
    SendValueChanged(this); // the value is read against the new range
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
    if (position != previous) {
        SendValueChanged(this);
    }
    return previous;
}

void CStatusCtrl::SetText(const QString& newText) {
    const bool changed = text != newText;
    text = newText;
    update();
    if (changed) {
        platform::SendAccessibleEvent(this, QAccessible::NameChanged);
    }
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

    // Drawn in the screen's own pixels, so that text and disc stay sharp on a scaled desktop.
    const qreal ratio = devicePixelRatioF();
    offscreen = QImage((QSizeF(r.size()) * ratio).toSize(), QImage::Format_RGB32);
    offscreen.setDevicePixelRatio(ratio);
    {
        QPainter memory(&offscreen);
        memory.setFont(font());
        FillRect(memory, done, barColor);
        FillRect(memory, rest, backColor);
        FillRect(memory, lamp, platform::GetSysColor(platform::SysColor::ButtonFace));

        if (disc.isValid()) {
            if (ratio == 1.0) {
                memory.setClipRegion(QRegion(disc, QRegion::Ellipse));
            } else {
                // A region has whole logical pixels; a path follows the finer device pixels.
                QPainterPath ellipse;
                ellipse.addEllipse(QRectF(disc));
                memory.setClipPath(ellipse);
            }
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
