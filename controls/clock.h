#pragma once
// CClock: a self-painting line with the local date and time, " Sun 6 Dec 2026  6:05:09 PM ",
// refreshed by a 900 ms timer and reformatted only when the second changes.
//
//   CClock m_clock;                 // constructed before the form (registers "MFCClockCtrl")
//   dx.Control(1000, m_clock);      // attach: system colours, empty text, timer 6 starts
//   m_clock.textColor = platform::Rgb(128, 128, 128);

#include "platform/gui/attach_hook.h"
#include "platform/gui/colors.h"
#include "platform/gui/window_timers.h"

#include <QFont>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <ctime>
#include <functional>

class CClock : public QWidget, public platform::AttachHook {
public:
    static constexpr const char* WindowClass = "MFCClockCtrl";
    static constexpr unsigned TimerId = 6;
    static constexpr unsigned TimerPeriodMs = 900;

    explicit CClock(QWidget* parent = nullptr);
    ~CClock() override;

    // Sets the system colours and the empty text, and starts the update timer.
    void OnAttach() override;
    // A timer tick (any identifier): reformats the text when the second has changed.
    void OnTimer(unsigned id);

    // The current time in whole seconds since 1970; tests put a fixed time here.
    using TimeSource = std::function<std::int64_t()>;
    void SetTimeSource(TimeSource source);

    // The font cell height the control paints with: client height * 90 / 100.
    int CellHeight() const { return height() * 90 / 100; }

    unsigned timerId = 0;
    QString text;
    QFont font;
    platform::ColorRef backColor = 0;
    platform::ColorRef textColor = 0;
    std::int64_t lastShown = 0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    platform::WindowTimers timers_;
    TimeSource now_;
};

// The clock's text for a time: " %a %#d %b %Y  %#I:%M:%S %p " in the C locale, local time;
// empty when the conversion or the formatting fails.
QString FormatClockText(std::int64_t secondsSince1970);
