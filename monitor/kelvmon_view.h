#pragma once
// CKelvmonView: the monitor's main view on form 101. It owns the serial port for the whole run,
// shows the bus traffic as hexadecimal lines (checked messages or a raw byte stream), copies
// the finished lines to the capture file, and sends typed messages and files.
//
// The view keeps the form's handlers; its parts each do one job: the port (CPortKeeper), the
// writes (CPortWriter) and the capture (CCapture). Everything runs on the user-interface thread
// except the writes: messages and a send file's chunks go out on the writer's thread, so that
// the window never waits for the line. The port's event thread only posts a notification, and
// OnSerialEvent reads the bytes.

#include "controls/clock.h"
#include "controls/resizable_form_view.h"
#include "monitor/bus_statistics.h"
#include "monitor/bus_status_label.h"
#include "monitor/capture.h"
#include "monitor/port_keeper.h"
#include "monitor/port_writer.h"
#include "monitor/ret_edit.h"
#include "monitor/traffic/traffic_list.h"
#include "monitor/traffic/traffic_receiver.h"

#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>

class QLabel;

class CKelvmonDoc;
class CTrafficFilterBar;
class CTrafficFindBar;

class CKelvmonView : public CResizableFormView, private ITrafficOutput {
public:
    static constexpr int kSendBufferSize = 1024;

    CKelvmonView();
    ~CKelvmonView() override;

    CKelvmonDoc* GetDocument() const;

    void OnInitialUpdate() override;
    // Closes and reopens the port from the document's port number and bit rate. A port lost
    // before is given up: the user's choice now stands.
    void OpenPort();
    bool IsPortOpen() const { return m_port.IsOpen(); }
    // Ends a running file transfer and closes the port. A port lost before is given up.
    void ClosePort();
    // The port's notification: reads what arrived and shows it.
    int OnSerialEvent(platform::WParam wParam, platform::LParam lParam);
    void OnTimer(unsigned id) override;

    void OnPause();
    void OnClear();
    void OnTrakbusData();
    void OnRawData();
    void OnTimeStamp();

    void OnSelectCaptureFile();
    void OnCaptureActive();

    // Send button n (1 to 4) and the focus loss of send edit n. The message is queued to the
    // writer: during a transfer it goes out between two chunks.
    void OnSendMsg(int n);
    void OnKillFocusSendStr(int n);
    // Writes to the port with a limit of 2000 ms, longer for a long write at a low rate; 1
    // without writing when the port is closed. Runs on the writer's thread, which makes every
    // write of the program, so that writes never overlap.
    std::int32_t SendBytes(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written);

    void OnSelectSendFile();
    // Starts sending the chosen file, or stops the transfer that is running.
    void OnSendFile();
    // From the start of a transfer until the window has shown its end.
    bool SendingFile() const { return m_sendOpen; }
    // The transfer's progress in the status bar; the end of a transfer is taken up here.
    void ShowSendProgress();
    // Esc stops a running file transfer.
    bool PreTranslateMessage(QKeyEvent& key) override;
    // The main window is closing: the transfer ends, and a capture file that cannot be
    // written out completely is reported while the window is still there.
    void OnFrameClosing();

    CTrafficList& TrafficList() { return m_list; }
    const CTrafficReceiver& Receiver() const { return m_receiver; }
    CClock& Clock() { return m_clock; }
    CBusStatistics& Statistics() { return m_statistics; }
    CBusStatusLabel* StatusLabel() const { return m_statusLabel; }
    CTrafficFindBar* FindBar() const { return m_findBar; }
    CTrafficFilterBar* FilterBar() const { return m_filterBar; }
    CSerialMFC& SerialPort() { return m_port.Serial(); }
    // The rate the open port runs at; 0 when it is closed.
    int PortBitRate() const { return m_port.BitRate(); }
    bool CaptureFileOpen() const { return m_capture.IsOpen(); }

    // Working copies of the document's values, exchanged with the controls.
    int m_DisplayModeGrp = 0;
    int m_UseTimeStamp = 0;
    int m_bCaptureActive = 0;
    QString m_SendStr, m_SendStr2, m_SendStr3, m_SendStr4;
    QString m_CaptureFilePath, m_SendFilePath;
    std::uint32_t m_nSendRemaining = 0;
    unsigned m_nTimerId = 0;

protected:
    void DoDataExchange(platform::DataExchange& dx) override;

private:
    // ITrafficOutput: the traffic list and the capture file.
    std::int64_t LineCount() const override { return m_list.LineCount(); }
    void AddLine(const TrafficLine& line) override { m_list.AddLine(line); }
    void ReplaceLastLine(const TrafficLine& line) override { m_list.ReplaceLastLine(line); }
    void ScrollToEnd() override { m_list.ScrollToEnd(); }
    void CaptureLine(const TrafficLine& line) override;

    QString& SendStr(int n);
    QString& DocSendStr(int n);
    void AnchorControls();
    void SetPauseCaption();
    // The bus figures in the frame's status bar and the find bar under the list.
    void AddStatusAndFindBar();
    // The port status box 1006 and, when the port cannot be had, the reason.
    void ShowPortStatus(bool open);
    // A failure of the capture file has switched capture off.
    void CaptureStopped();

    CClock m_clock;
    CTrafficList m_list;
    std::array<CRetEdit, 4> m_sendEdits;
    CTrafficReceiver m_receiver;
    CCapture m_capture;
    CBusStatistics m_statistics;
    QPointer<CBusStatusLabel> m_statusLabel;  // owned by the frame's status bar
    CTrafficFindBar* m_findBar = nullptr;     // a child of the form
    CTrafficFilterBar* m_filterBar = nullptr; // a child of the form
    QString m_portMessage;                    // the reason shown in the status bar
    QLabel* m_sendProgress = nullptr;         // in the frame's status bar
    bool m_sendOpen = false;                  // a transfer whose end has not been shown yet
    bool m_anchored = false;
    bool m_closing = false;
    // The port and its event thread go after the writer, and before the rest.
    CPortKeeper m_port;
    // Declared last: its thread writes to the port, and the destructor ends it first.
    CPortWriter m_writer;
};
