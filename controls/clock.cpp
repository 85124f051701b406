#include "controls/clock.h"

#include "platform/gui/accessible_events.h"
#include "platform/gui/window_class.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <locale.h>

namespace {

constexpr const char* kClockFormat = " %a %#d %b %Y  %#I:%M:%S %p ";
constexpr std::size_t kTextBufferSize = 128;

// strftime's own flag for "no padding" is '-'; the clock's patterns write it '#'.
std::string ToStrftimePattern(const char* pattern) {
    std::string out;
    for (const char* p = pattern; *p != '\0'; ++p) {
        out += *p;
        if (p[0] == '%' && p[1] == '#') {
            out += '-';
            ++p;
        }
    }
    return out;
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

std::int64_t SystemSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Arial (or the sans-serif face standing in for it) with a cell (ascent + descent) of at most
// `cellHeight` pixels, as large as fits.
QFont ClockFont(int cellHeight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    int pixels = qMax(cellHeight, 1);
    font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(font).height() > cellHeight) {
        font.setPixelSize(--pixels);
    }
    return font;
}

// What assistive technology reads of the clock: a static text named by the time it shows.
class ClockAccessible : public QAccessibleWidget {
public:
    explicit ClockAccessible(CClock* clock)
        : QAccessibleWidget(clock, QAccessible::StaticText), clock_(clock) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return clock_->text;
        }
        return QAccessibleWidget::text(t);
    }

private:
    CClock* clock_;
};

QAccessibleInterface* ClockFactory(const QString&, QObject* object) {
    if (auto* clock = dynamic_cast<CClock*>(object)) {
        return new ClockAccessible(clock);
    }
    return nullptr;
}

} // namespace

QString FormatClockText(std::int64_t secondsSince1970) {
    const std::time_t seconds = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr || CLocale() == static_cast<locale_t>(nullptr)) {
        return {};
    }
    static const std::string pattern = ToStrftimePattern(kClockFormat);
    char buffer[kTextBufferSize];
    const std::size_t length =
        strftime_l(buffer, sizeof buffer, pattern.c_str(), &local, CLocale());
    if (length == 0) {
        return {};
    }
    return QString::fromLatin1(buffer, static_cast<qsizetype>(length));
}

CClock::CClock(QWidget* parent)
    : QWidget(parent), timers_([this](unsigned id) { OnTimer(id); }), now_(SystemSeconds) {
    platform::RegisterWindowClass(QString::fromLatin1(WindowClass));
    setObjectName(QString::fromLatin1(WindowClass));
    // The timer's repaints draw over what is there: the background is erased only when the
    // window is first shown or resized.
    setAttribute(Qt::WA_OpaquePaintEvent);
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(ClockFactory);
        return true;
    }();
    (void)factoryInstalled;
}

CClock::~CClock() {
    if (timerId == TimerId) {
        timers_.Kill(TimerId);
        timerId = 0;
    }
}

void CClock::OnAttach() {
    backColor = platform::GetSysColor(platform::SysColor::ButtonFace);
    textColor = platform::GetSysColor(platform::SysColor::ButtonText);
    text.clear();
    timerId = timers_.Set(TimerId, TimerPeriodMs);
}

void CClock::SetTimeSource(TimeSource source) {
    now_ = source ? std::move(source) : TimeSource(SystemSeconds);
}

void CClock::OnTimer(unsigned) {
    const std::int64_t now = now_();
    if (now == lastShown) {
        return;
    }
    lastShown = now;
    const QString previous = text;
    text = FormatClockText(now);
    if (timerId == TimerId) {
        update();
    }
    if (text != previous) {
        platform::SendAccessibleEvent(this, QAccessible::NameChanged);
    }
}

void CClock::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The whole control is painted every time: the button face around the text cell, so a text
    // that became narrower leaves nothing behind, and a grabbed image shows no stale pixels.
    painter.fillRect(event->rect(),
                     platform::ToQColor(platform::GetSysColor(platform::SysColor::ButtonFace)));
    const QRect client = rect();
    font = ClockFont(CellHeight());
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int h = CellHeight();
    // Centred on x = the client's middle, the cell's bottom on y = h.
    const int width = metrics.horizontalAdvance(text);
    const QRect cell(client.left() + client.width() / 2 - width / 2, 0, width, h);
    painter.fillRect(cell, platform::ToQColor(backColor));
    painter.setPen(platform::ToQColor(textColor));
    painter.drawText(cell.left(), h - metrics.descent(), text);
}
