#include "monitor/kelvmon_forms.h"

#include "monitor/kelvmon_ids.h"
#include "platform/gui/message_box.h"

namespace kelvmon {

using namespace platform;

const DialogTemplate& MainForm() {
    // The controls that set up capture, display and sending stand above the traffic list; the
    // list takes the rest of the form and the status row stays under it.
    static const DialogTemplate form{
        IddMainForm,
        {314, 299},
        {},
        {RadioButton("Trakbus Data", IdcTrakbusData, 7, 9, 60, 10, WsGroup),
         RadioButton("Raw Data", IdcRawData, 70, 9, 48, 10),
         CheckBox("Time Stamp", IdcTimeStamp, 122, 9, 54, 10),
         CheckBox("File Capture Active", IdcCaptureActive, 212, 7, 95, 14, BsPushLike | BsCenter),
         PushButton("Select CAPTURE file", IdcSelectCapture, 7, 25, 80, 14),
         LText("", IdcCapturePath, 92, 28, 215, 10),
         PushButton("Select SEND file", IdcSelectSend, 7, 43, 80, 14),
         LText("", IdcSendPath, 92, 46, 160, 10),
         PushButton("Send File", IdcSendFile, 257, 43, 50, 14),
         PushButton("Send Msg1", IdcSendMsg1, 7, 61, 50, 14),
         EditText(IdcSendStr1, 62, 61, 150, 14),
         PushButton("Send Msg2", IdcSendMsg2, 7, 78, 50, 14),
         EditText(IdcSendStr2, 62, 78, 150, 14),
         PushButton("Send Msg3", IdcSendMsg3, 7, 95, 50, 14),
         EditText(IdcSendStr3, 62, 95, 150, 14),
         PushButton("Send Msg4", IdcSendMsg4, 7, 112, 50, 14),
         EditText(IdcSendStr4, 62, 112, 150, 14),
         ListBox(IdcTraffic, 7, 131, 300, 140, LbsNoSel | LbsNoIntegralHeight | WsVScroll),
         PushButton("Clear", IdcClear, 7, 278, 34, 14),
         // The clock's font fills 90 % of its height; this height keeps the date in its width.
         Control("", IdcClock, "MFCClockCtrl", WsVisible, 45, 279, 140, 11),
         CText("", IdcPortStatus, 189, 278, 66, 14, SsSunken | SsCenterImage),
         PushButton("PAUSE", IdcPause, 260, 278, 47, 14)}};
    return form;
}

const DialogTemplate& PortSetupForm() {
    static const DialogTemplate form{
        IddPortSetup,
        {182, 70},
        QStringLiteral("Port Selection"),
        {LText("COM Port", IdcStatic, 7, 7, 75, 8), ComboBox(IdcPortList, 7, 18, 75, 90),
         LText("BIT Rate", IdcStatic, 97, 7, 75, 8), ComboBox(IdcBitRateList, 97, 18, 75, 120),
         DefPushButton("OK", IdOk, 66, 46, 50, 14)}};
    return form;
}

const DialogTemplate& AboutForm() {
    static const DialogTemplate form{
        IddAbout,
        {235, 55},
        QStringLiteral("About kelvmon"),
        {Control("", IdcStatic, "Static", 0x3 /* icon */, 11, 17, 20, 20),
         LText("kelvmon", IdcAboutVersion, 40, 10, 119, 8),
         LText("Kestrom Trakbus tools", IdcStatic, 40, 25, 119, 8),
         DefPushButton("OK", IdOk, 178, 7, 50, 14, WsGroup)}};
    return form;
}

} // namespace kelvmon
