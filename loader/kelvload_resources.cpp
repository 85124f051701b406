#include "loader/kelvload_resources.h"

#include "controls/clock.h"
#include "controls/status_ctrl.h"
#include "loader/kelvload_ids.h"
#include "platform/gui/message_box.h"
#include "platform/gui/string_table.h"

namespace kelvload {

using namespace platform;

namespace {

constexpr int kAppTitleString = 57344;

} // namespace

void AddKelvloadStrings() {
    AddStrings({
        {kAppTitleString, QString::fromLatin1(AppTitle)},
        {IdsSelectFileTitle, QStringLiteral("Select .KFW File")},
        {IdsReady, QStringLiteral("Ready")},
        {IdsPortFailed, QStringLiteral("COM Port Failed")},
        {IdsNoFile, QStringLiteral(".KFW File Not loaded or Valid")},
        {IdsProgramming, QStringLiteral("Programming")},
        {IdsFailed, QStringLiteral("Programming Failed")},
        {IdsVersion, QStringLiteral("Version 2.9.3")},
    });
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/kelvload-48.png"));
    icon.addFile(QStringLiteral(":/icons/kelvload-128.png"));
    return icon;
}

const DialogTemplate& MainFormTemplate() {
    static const DialogTemplate form{
        IddMainForm,
        {310, 154},
        {},
        {
            Control("", IdcClock, CClock::WindowClass, WsVisible, 7, 7, 296, 12),
            Control("", IdcStatus, CStatusCtrl::WindowClass, WsVisible | WsBorder, 7, 23, 296, 16),
            Control("Start (Spacebar)", IdcStartStop, "Button",
                    WsVisible | WsTabStop | BsOwnerDraw | BsCenter | BsVCenter, 7, 45, 120, 30),
            LText("Trakbus Port", IdcStatic, 135, 45, 55, 8),
            ComboBox(IdcPortList, 135, 55, 55, 120, CbsDropDownList | WsVScroll),
            LText("Bit Rate", IdcStatic, 196, 45, 50, 8),
            ComboBox(IdcBitRateList, 196, 55, 50, 120, CbsDropDownList | WsVScroll),
            PushButton("Find Devices", IdcFindDevices, 253, 54, 50, 14),
            PushButton("Select File...", IdcSelectFile, 7, 82, 60, 14),
            CText("", IdcPath, 72, 82, 231, 14, SsSunken | SsCenterImage),
            LText("", IdcInfo, 7, 101, 296, 46, SsSunken),
        },
    };
    return form;
}

const DialogTemplate& DiscoverTemplate() {
    static const DialogTemplate form{
        IddDiscover,
        {318, 245},
        QStringLiteral("Discover"),
        {
            Control("", IdcDeviceList, "SysListView32", WsVisible | WsBorder | WsTabStop, 7, 7, 304,
                    190),
            PushButton("Discover", IdcDiscover, 7, 203, 50, 14),
            PushButton("Identify", IdcIdentify, 62, 203, 50, 14),
            PushButton("Set All", IdcSetAll, 117, 203, 50, 14),
            PushButton("Clear All", IdcClearAll, 172, 203, 50, 14),
            Control("Ping", IdcPing, "Button", WsDisabled | WsTabStop, 227, 203, 30, 14, true),
            PushButton("Exit", IdcExit, 261, 203, 50, 14),
            CText("", IdcRssi, 7, 224, 304, 14, SsSunken | SsCenterImage),
        },
    };
    return form;
}

const DialogTemplate& AboutTemplate() {
    static const DialogTemplate form{
        IddAbout,
        {235, 55},
        QStringLiteral("About Kelvload"),
        {
            Control("", IdcStatic, "Static", SsIcon, 11, 17, 20, 20),
            LText("", IdcAboutVersion, 40, 10, 119, 8),
            DefPushButton("OK", IdOk, 178, 7, 50, 14, WsGroup),
        },
    };
    return form;
}

} // namespace kelvload
