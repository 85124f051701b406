#pragma once
// Resource numbers of the loader: string table entries, dialog templates and
// the control identifiers of its forms.

namespace kelvload {

// String table.
inline constexpr int IdsSelectFileTitle = 61204; // "Select .KFW File"
inline constexpr int IdsReady = 61205;           // "Ready"
inline constexpr int IdsPortFailed = 61206;      // "COM Port Failed"
inline constexpr int IdsNoFile = 61207;          // ".KFW File Not loaded or Valid"
inline constexpr int IdsProgramming = 61208;     // "Programming"
inline constexpr int IdsFailed = 61209;          // "Programming Failed"
inline constexpr int IdsVersion = 61210;         // "Version 2.9.3"

// Dialog templates.
inline constexpr int IddAbout = 100;
inline constexpr int IddMainForm = 101;
inline constexpr int IddDiscover = 132;

// Main form.
inline constexpr int IdcClock = 1000;
inline constexpr int IdcStatus = 1001;
inline constexpr int IdcStartStop = 1002;
inline constexpr int IdcSelectFile = 1003;
inline constexpr int IdcPath = 1004;
inline constexpr int IdcPortList = 1006;
inline constexpr int IdcBitRateList = 1007;
inline constexpr int IdcFindDevices = 1008;
inline constexpr int IdcInfo = 1030;

// Discovery window.
inline constexpr int IdcExit = 2;
inline constexpr int IdcDeviceList = 1007;
inline constexpr int IdcClearAll = 1009;
inline constexpr int IdcSetAll = 1010;
inline constexpr int IdcIdentify = 1011;
inline constexpr int IdcDiscover = 1012;
inline constexpr int IdcPing = 1013;
inline constexpr int IdcRssi = 1014;

// About box.
inline constexpr int IdcAboutVersion = 1000;

// Every static text that no code addresses.
inline constexpr int IdcStatic = -1;

} // namespace kelvload
