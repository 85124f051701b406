#include "platform/gui/dialog_template.h"

#include <QApplication>
#include <QFontMetrics>

namespace platform {
namespace {

DialogItem Item(const QString& className, const QString& text, int id, int x, int y, int cx, int cy,
                std::uint32_t style) {
    return DialogItem{className, id, text, QRect(x, y, cx, cy), style | WsVisible};
}

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogItem PushButton(const QString& text, int id, int x, int y, int cx, int cy,
                      std::uint32_t style) {
    return Item("Button", text, id, x, y, cx, cy, BsPushButton | WsTabStop | style);
}

DialogItem DefPushButton(const QString& text, int id, int x, int y, int cx, int cy,
                         std::uint32_t style) {
    return Item("Button", text, id, x, y, cx, cy, BsDefPushButton | WsTabStop | style);
}

DialogItem CheckBox(const QString& text, int id, int x, int y, int cx, int cy,
                    std::uint32_t style) {
    return Item("Button", text, id, x, y, cx, cy, BsAutoCheckBox | WsTabStop | style);
}

DialogItem RadioButton(const QString& text, int id, int x, int y, int cx, int cy,
                       std::uint32_t style) {
    return Item("Button", text, id, x, y, cx, cy, BsAutoRadioButton | WsTabStop | style);
}

DialogItem GroupBox(const QString& text, int id, int x, int y, int cx, int cy,
                    std::uint32_t style) {
    return Item("Button", text, id, x, y, cx, cy, BsGroupBox | style);
}

DialogItem LText(const QString& text, int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("Static", text, id, x, y, cx, cy, SsLeft | style);
}

DialogItem CText(const QString& text, int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("Static", text, id, x, y, cx, cy, SsCenter | style);
}

DialogItem RText(const QString& text, int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("Static", text, id, x, y, cx, cy, SsRight | style);
}

DialogItem EditText(int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("Edit", {}, id, x, y, cx, cy, WsTabStop | style);
}

DialogItem ComboBox(int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("ComboBox", {}, id, x, y, cx, cy, WsTabStop | style);
}

DialogItem ListBox(int id, int x, int y, int cx, int cy, std::uint32_t style) {
    return Item("ListBox", {}, id, x, y, cx, cy, WsTabStop | style);
}

DialogItem Control(const QString& text, int id, const QString& className, std::uint32_t style,
                   int x, int y, int cx, int cy, bool hidden) {
    DialogItem item{className, id, text, QRect(x, y, cx, cy), style};
    if (!hidden) {
        item.style |= WsVisible;
    }
    return item;
}

QFont TemplateFont(const DialogTemplate& form) {
    QFont font = QApplication::font();
    if (!form.fontFace.isEmpty()) {
        font.setFamily(form.fontFace);
    }
    if (form.fontPoints > 0) {
        font.setPointSize(form.fontPoints);
    }
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded.
    const int width = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    return QSize(qMax(width, 1), qMax(metrics.height(), 1));
}

QRect DialogUnitsToPixels(const QRect& units, QSize baseUnits) {
    const int left = MulDiv(units.x(), baseUnits.width(), 4);
    const int top = MulDiv(units.y(), baseUnits.height(), 8);
    const int right = MulDiv(units.x() + units.width(), baseUnits.width(), 4);
    const int bottom = MulDiv(units.y() + units.height(), baseUnits.height(), 8);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace platform
