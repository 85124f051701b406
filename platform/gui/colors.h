#pragma once
// Colours at the interface are 24-bit values written 0x00BBGGRR (red in the low byte). They are
// turned into QColor here and nowhere else.

#include <QColor>
#include <cstdint>

namespace platform {

using ColorRef = std::uint32_t;

constexpr ColorRef Rgb(int red, int green, int blue) {
    return static_cast<ColorRef>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

QColor ToQColor(ColorRef color);
ColorRef FromQColor(const QColor& color);

// The system colours the controls are drawn with, taken from the application's palette.
enum class SysColor {
    ButtonFace,      // face of buttons and dialogs
    ButtonText,      // text on buttons
    ButtonHighlight, // lit edge of a raised frame
    Light3D,         // inner lit edge
    ButtonShadow,    // shadowed edge
    DarkShadow3D,    // outer shadowed edge
    Desktop,         // the desktop background
};

ColorRef GetSysColor(SysColor which);

} // namespace platform
