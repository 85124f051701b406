#pragma once
// Resource numbers of the monitor: string table entries, menus, commands, dialog templates and
// the control identifiers of its forms.

namespace kelvmon {

// String table.
inline constexpr int IdsAppName = 57344; // "kelvmon"
inline constexpr int IdsVersion = 61204; // the version text of the title and the about box

// Menus, document template and commands.
inline constexpr int IdrMainFrame = 128;
inline constexpr int IdStayOnTop = 32771;
inline constexpr int IdPortSetup = 32773;

// Dialog templates.
inline constexpr int IddAbout = 100;
inline constexpr int IddMainForm = 101;
inline constexpr int IddPortSetup = 130;

// Main form.
inline constexpr int IdcTraffic = 1002;
inline constexpr int IdcClear = 1004;
inline constexpr int IdcClock = 1005;
inline constexpr int IdcPortStatus = 1006;
inline constexpr int IdcPause = 1007;
inline constexpr int IdcSelectCapture = 1008;
inline constexpr int IdcTrakbusData = 1009;
inline constexpr int IdcRawData = 1010;
inline constexpr int IdcCaptureActive = 1011;
inline constexpr int IdcSendStr1 = 1012;
inline constexpr int IdcSendMsg1 = 1013;
inline constexpr int IdcCapturePath = 1014;
inline constexpr int IdcSendStr2 = 1015;
inline constexpr int IdcTimeStamp = 1016;
inline constexpr int IdcSendMsg2 = 1017;
inline constexpr int IdcSendPath = 1018;
inline constexpr int IdcSendFile = 1019;
inline constexpr int IdcSelectSend = 1020;
inline constexpr int IdcSendMsg3 = 1021;
inline constexpr int IdcSendMsg4 = 1022;
inline constexpr int IdcSendStr3 = 1023;
inline constexpr int IdcSendStr4 = 1024;

// Port set-up dialog.
inline constexpr int IdcPortList = 1003;
inline constexpr int IdcBitRateList = 1004;

// About box.
inline constexpr int IdcAboutVersion = 1000;

// Every static text that no code addresses.
inline constexpr int IdcStatic = -1;

// The view's timer and its period.
inline constexpr unsigned TimerId = 21;
inline constexpr unsigned TimerPeriodMs = 250;

} // namespace kelvmon
