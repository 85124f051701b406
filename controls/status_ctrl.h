#pragma once
// CStatusCtrl: a progress bar with a centred status text and, at its right end, a round lamp in
// a colour the owner chooses.
//
//   CStatusCtrl m_lamp;
//   dx.Control(1001, m_lamp);          // attach sets the defaults
//   m_lamp.SetRange(0, imageLength);
//   m_lamp.SetPosition(progress);      // clamped into the range
//   m_lamp.SetText("Programming");
//   m_lamp.SetLampColor(platform::Rgb(255, 255, 0));
//
// An empty range, or a position below the range, shows an empty bar; a position above it a full
// one.

#include "platform/gui/attach_hook.h"
#include "platform/gui/colors.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>

class CStatusCtrl : public QWidget, public platform::AttachHook {
public:
    static constexpr const char* WindowClass = "MFCStatusCtrl";

    explicit CStatusCtrl(QWidget* parent = nullptr);
    ~CStatusCtrl() override;

    // Creates the control in `parent` at `rect` with an empty title. False without a parent.
    bool Create(std::uint32_t style, const QRect& rect, QWidget* parent, int id);
    // Sets the defaults of the fields below.
    void OnAttach() override;

    void SetRange(std::uint32_t low, std::uint32_t high);
    std::uint32_t SetPosition(std::uint32_t value); // returns the previous position
    void SetText(const QString& text);
    void SetLampColor(platform::ColorRef color);

    // The x coordinate where the done part of a bar `barWidth` wide ends.
    std::int64_t SplitX(int barWidth) const;

    std::uint32_t rangeLow = 0;
    std::uint32_t rangeHigh = 0;
    std::uint32_t position = 0;
    QString text;
    QImage offscreen;
    platform::ColorRef lampColor = 0;
    platform::ColorRef backColor = 0;
    platform::ColorRef textColor = 0;
    platform::ColorRef barColor = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};
