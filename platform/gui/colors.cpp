#include "platform/gui/colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace platform {

QColor ToQColor(ColorRef color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

ColorRef FromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return Rgb(rgb.red(), rgb.green(), rgb.blue());
}

ColorRef GetSysColor(SysColor which) {
    const QPalette palette = QGuiApplication::palette();
    switch (which) {
    case SysColor::ButtonFace:
        return FromQColor(palette.color(QPalette::Button));
    case SysColor::ButtonText:
        return FromQColor(palette.color(QPalette::ButtonText));
    case SysColor::ButtonHighlight:
        return FromQColor(palette.color(QPalette::Light));
    case SysColor::Light3D:
        return FromQColor(palette.color(QPalette::Midlight));
    case SysColor::ButtonShadow:
        return FromQColor(palette.color(QPalette::Mid));
    case SysColor::DarkShadow3D:
        return FromQColor(palette.color(QPalette::Shadow));
    case SysColor::Desktop:
        return Rgb(0, 0, 0); // the palette has no desktop role; black reads on any bar colour
    }
    return 0;
}

} // namespace platform
