#pragma once
// CColorButton: a push button drawn in a face and a text colour of the owner's choice, with its
// own three-dimensional frame.
//
//   CColorButton m_start;
//   dx.Control(1002, m_start);
//   m_start.SetColors(platform::Rgb(0, 0, 0), platform::Rgb(0, 255, 0));
//
// Text alignment and multi-line come from the button's style bits (BsCenter, BsVCenter,
// BsMultiLine, ...), which the form's template gives.

#include "platform/gui/colors.h"

#include <QPushButton>

class CColorButton : public QPushButton {
public:
    // What the drawing is asked for.
    struct ItemState {
        bool pressed = false;
        bool disabled = false;
        bool focused = false;
        bool isDefault = false;
    };

    explicit CColorButton(QWidget* parent = nullptr);
    ~CColorButton() override;

    void SetColors(platform::ColorRef text, platform::ColorRef face);

    // Draws the whole button into `rect` for `state`.
    void DrawItem(QPainter& painter, const QRect& rect, const ItemState& state) const;

    platform::ColorRef textColor;
    platform::ColorRef faceColor;
    platform::ColorRef disabledFaceColor;
    platform::ColorRef lightColor;
    platform::ColorRef highlightColor;
    platform::ColorRef shadowColor;
    platform::ColorRef darkShadowColor;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawText(QPainter& painter, const QRect& q, const QRect& button,
                  platform::ColorRef color) const;
};
