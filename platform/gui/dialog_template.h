#pragma once
// Dialog templates: a form's size in dialog units and its controls with fixed identifiers, as
// the programs' resource scripts describe them.
//
//   const platform::DialogTemplate kMainForm{
//       101, {310, 154}, {},
//       {platform::Control("", 1000, "MFCClockCtrl", platform::WsVisible, 7, 7, 120, 12),
//        platform::PushButton("Select File...", 1003, 7, 30, 60, 14),
//        platform::CText("", 1004, 70, 30, 230, 14, platform::SsSunken)}};
//
// Dialog units become pixels from the form font's average character width and height:
// x * avgWidth / 4 and y * height / 8, rounded. The form font is the desktop's own, so a form
// grows with a larger desktop font or a higher font resolution.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <vector>

namespace platform {

// Styles common to all controls.
inline constexpr std::uint32_t WsVisible = 0x10000000;
inline constexpr std::uint32_t WsDisabled = 0x08000000;
inline constexpr std::uint32_t WsClipSiblings = 0x04000000;
inline constexpr std::uint32_t WsBorder = 0x00800000;
inline constexpr std::uint32_t WsVScroll = 0x00200000;
inline constexpr std::uint32_t WsHScroll = 0x00100000;
inline constexpr std::uint32_t WsGroup = 0x00020000; // first control of a group
inline constexpr std::uint32_t WsTabStop = 0x00010000;

// Button styles: the type is style & 0xF.
inline constexpr std::uint32_t BsPushButton = 0x0;
inline constexpr std::uint32_t BsDefPushButton = 0x1;
inline constexpr std::uint32_t BsAutoCheckBox = 0x3;
inline constexpr std::uint32_t BsGroupBox = 0x7;
inline constexpr std::uint32_t BsAutoRadioButton = 0x9;
inline constexpr std::uint32_t BsOwnerDraw = 0xB;
inline constexpr std::uint32_t BsTypeMask = 0xF;
inline constexpr std::uint32_t BsLeft = 0x0100;
inline constexpr std::uint32_t BsRight = 0x0200;
inline constexpr std::uint32_t BsCenter = 0x0300;
inline constexpr std::uint32_t BsTop = 0x0400;
inline constexpr std::uint32_t BsBottom = 0x0800;
inline constexpr std::uint32_t BsVCenter = 0x0C00;
inline constexpr std::uint32_t BsPushLike = 0x1000;
inline constexpr std::uint32_t BsMultiLine = 0x2000;

// Static styles: the type is style & 0x1F.
inline constexpr std::uint32_t SsLeft = 0x00;
inline constexpr std::uint32_t SsCenter = 0x01;
inline constexpr std::uint32_t SsRight = 0x02;
inline constexpr std::uint32_t SsIcon = 0x03;
inline constexpr std::uint32_t SsTypeMask = 0x1F;
inline constexpr std::uint32_t SsCenterImage = 0x0200;
inline constexpr std::uint32_t SsSunken = 0x1000;

// Edit, combo box and list box styles.
inline constexpr std::uint32_t EsAutoHScroll = 0x0080;
inline constexpr std::uint32_t EsReadOnly = 0x0800;
inline constexpr std::uint32_t CbsDropDown = 0x0002;
inline constexpr std::uint32_t CbsDropDownList = 0x0003;
inline constexpr std::uint32_t CbsSort = 0x0100;
inline constexpr std::uint32_t LbsSort = 0x0002;
inline constexpr std::uint32_t LbsNoIntegralHeight = 0x0100;
inline constexpr std::uint32_t LbsNoSel = 0x4000;

struct DialogItem {
    QString className{}; // "Button", "Static", "Edit", "ComboBox", "ListBox", "SysListView32", ...
    int id = 0;
    QString text{};
    QRect rect{}; // in dialog units
    std::uint32_t style = 0;
};

struct DialogTemplate {
    int id = 0;
    QSize size{};      // in dialog units
    QString caption{}; // dialogs only
    std::vector<DialogItem> items{};
    QString fontFace{}; // empty: the desktop's font family
    int fontPoints = 0; // point size of the form font; 0: the desktop's, so the form scales
};

// Builders for the usual controls. Each adds WsVisible; push buttons, check and radio buttons,
// edits, combo boxes and list boxes add WsTabStop as well.
DialogItem PushButton(const QString& text, int id, int x, int y, int cx, int cy,
                      std::uint32_t style = 0);
DialogItem DefPushButton(const QString& text, int id, int x, int y, int cx, int cy,
                         std::uint32_t style = 0);
DialogItem CheckBox(const QString& text, int id, int x, int y, int cx, int cy,
                    std::uint32_t style = 0);
DialogItem RadioButton(const QString& text, int id, int x, int y, int cx, int cy,
                       std::uint32_t style = 0);
DialogItem GroupBox(const QString& text, int id, int x, int y, int cx, int cy,
                    std::uint32_t style = 0);
DialogItem LText(const QString& text, int id, int x, int y, int cx, int cy,
                 std::uint32_t style = 0);
DialogItem CText(const QString& text, int id, int x, int y, int cx, int cy,
                 std::uint32_t style = 0);
DialogItem RText(const QString& text, int id, int x, int y, int cx, int cy,
                 std::uint32_t style = 0);
DialogItem EditText(int id, int x, int y, int cx, int cy, std::uint32_t style = EsAutoHScroll);
DialogItem ComboBox(int id, int x, int y, int cx, int cy,
                    std::uint32_t style = CbsDropDown | WsVScroll);
DialogItem ListBox(int id, int x, int y, int cx, int cy, std::uint32_t style = WsVScroll);
// Any class, with exactly the style given (plus WsVisible unless `hidden`).
DialogItem Control(const QString& text, int id, const QString& className, std::uint32_t style,
                   int x, int y, int cx, int cy, bool hidden = false);

// The form font of a template.
QFont TemplateFont(const DialogTemplate& form);
// Average character width and height of a font, as dialog units are measured.
QSize DialogBaseUnits(const QFont& font);
// A rectangle in dialog units converted to pixels for the base units.
QRect DialogUnitsToPixels(const QRect& units, QSize baseUnits);

} // namespace platform
