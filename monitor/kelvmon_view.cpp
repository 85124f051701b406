#include "monitor/kelvmon_view.h"

#include "busproto/checksum.h"
#include "monitor/bus_status_label.h"
#include "monitor/hex_text.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/main_frame.h"
#include "monitor/send_file.h"
#include "monitor/traffic/traffic_find_bar.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/message_box.h"
#include "serial/port_failure.h"
#include "serial/port_names.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

using namespace kelvmon;

namespace {

constexpr platform::LParam kSerialUserValue = 12;
constexpr std::uint32_t kQueueSize = 512;
constexpr int kTicksPerReopen = 1000 / static_cast<int>(TimerPeriodMs); // once a second

platform::FileChooserRequest PathChooser(const QString& title, const QString& filter,
                                         const QString& path) {
    platform::FileChooserRequest request;
    request.open = false;
    request.title = title;
    request.filter = filter;
    request.defaultExtension = QStringLiteral("txt");
    request.initialFolder = path;
    request.initialFile = path;
    request.flags = platform::OfnPathMustExist | platform::OfnFileMustExist;
    return request;
}

} // namespace

CKelvmonView::CKelvmonView() : CResizableFormView(MainForm()), m_receiver(*this) {
    OnCommand(IdcClear, platform::Notify::Clicked, [this] { OnClear(); });
    OnCommand(IdcPause, platform::Notify::Clicked, [this] { OnPause(); });
    OnCommand(IdcTrakbusData, platform::Notify::Clicked, [this] { OnTrakbusData(); });
    OnCommand(IdcRawData, platform::Notify::Clicked, [this] { OnRawData(); });
    OnCommand(IdcTimeStamp, platform::Notify::Clicked, [this] { OnTimeStamp(); });
    OnCommand(IdcSelectCapture, platform::Notify::Clicked, [this] { OnSelectCaptureFile(); });
    OnCommand(IdcCaptureActive, platform::Notify::Clicked, [this] { OnCaptureActive(); });
    OnCommand(IdcSelectSend, platform::Notify::Clicked, [this] { OnSelectSendFile(); });
    OnCommand(IdcSendFile, platform::Notify::Clicked, [this] { OnSendFile(); });
    const int buttons[4] = {IdcSendMsg1, IdcSendMsg2, IdcSendMsg3, IdcSendMsg4};
    const int edits[4] = {IdcSendStr1, IdcSendStr2, IdcSendStr3, IdcSendStr4};
    for (int n = 1; n <= 4; ++n) {
        OnCommand(buttons[n - 1], platform::Notify::Clicked, [this, n] { OnSendMsg(n); });
        OnCommand(edits[n - 1], platform::Notify::KillFocus, [this, n] { OnKillFocusSendStr(n); });
        OnCommand(edits[n - 1], platform::Notify::Change, [] {});
        // A screen reader names each text box after the button that sends it.
        m_sendEdits[n - 1].setAccessibleName(platform::GetWindowText(GetDlgItem(buttons[n - 1])));
    }
    MapMessage(CSerialWnd::defaultComMessage,
               [this](platform::WParam w, platform::LParam l) { OnSerialEvent(w, l); });
}

CKelvmonView::~CKelvmonView() {
    // No handler runs for the focus loss and timer ticks of a view being taken apart.
    m_closing = true;
    if (m_nTimerId != 0)
        KillTimer(m_nTimerId);
    delete m_statusLabel.data(); // it reads this view's figures
    if (QWidget* focus = QApplication::focusWidget(); focus != nullptr && isAncestorOf(focus))
        focus->clearFocus();
    // A chunk under way is cut short by the closing port.
    m_sendJob.RequestStop();
    m_serial.Close();
    m_sendJob.Wait();
    m_captureFile.Close();
}

void CKelvmonView::OnFrameClosing() {
    ClosePort();
    if (m_captureFile.IsOpen() && !m_captureFile.Close()) {
        // Shown now: once the frame has closed, a deferred message would never appear.
        m_bCaptureActive = 0;
        platform::MessageBox(
            this, QStringLiteral("Could Not Write capture File\n%1").arg(m_captureFile.Error()));
    }
}

void CKelvmonView::ClosePort() {
    // The transfer's write under way returns once the port is closed; the transfer then ends
    // before the port can be opened again, so that no chunk goes to a port opened since.
    m_bPortLost = false;
    m_sendJob.RequestStop();
    m_serial.Close();
    m_sendJob.Wait();
    if (m_sendOpen)
        ShowSendProgress();
}

CKelvmonDoc* CKelvmonView::GetDocument() const {
    return static_cast<CKelvmonDoc*>(platform::FormView::GetDocument());
}

void CKelvmonView::DoDataExchange(platform::DataExchange& dx) {
    CResizableFormView::DoDataExchange(dx);
    dx.Control(IdcTraffic, m_list);
    dx.Control(IdcClock, m_clock);
    dx.Control(IdcSendStr1, m_sendEdits[0]);
    dx.Control(IdcSendStr2, m_sendEdits[1]);
    dx.Control(IdcSendStr3, m_sendEdits[2]);
    dx.Control(IdcSendStr4, m_sendEdits[3]);
    dx.Radio(IdcTrakbusData, m_DisplayModeGrp);
    dx.Check(IdcCaptureActive, m_bCaptureActive);
    dx.Check(IdcTimeStamp, m_UseTimeStamp);
    dx.Text(IdcCapturePath, m_CaptureFilePath);
    dx.Text(IdcSendPath, m_SendFilePath);
    dx.Text(IdcSendStr1, m_SendStr);
    dx.Text(IdcSendStr2, m_SendStr2);
    dx.Text(IdcSendStr3, m_SendStr3);
    dx.Text(IdcSendStr4, m_SendStr4);
    if (dx.Saving())
        m_DisplayModeGrp = m_DisplayModeGrp == DisplayRaw ? DisplayRaw : DisplayTrakbus;
}

void CKelvmonView::AnchorControls() {
    // The list grows with the form, the status row stays under it, the controls above keep
    // their place and the send edits widen by half of the form's growth.
    AnchorControl(IdcTraffic, AnchorTopLeft, AnchorBottomRight);
    for (int id : {IdcClear, IdcClock, IdcPortStatus, IdcPause})
        AnchorControl(id, AnchorBottomLeft, AnchorBottomLeft);
    for (int id : {IdcSelectCapture, IdcTrakbusData, IdcRawData, IdcCaptureActive})
        AnchorControl(id, AnchorTopLeft, AnchorTopLeft);
    for (int id : {IdcSendStr1, IdcSendStr2, IdcSendStr3, IdcSendStr4})
        AnchorControl(id, AnchorTopLeft, AnchorTopCenter);
    for (int id : {IdcSendMsg1, IdcSendMsg2, IdcCapturePath, IdcTimeStamp})
        AnchorControl(id, AnchorTopLeft, AnchorTopLeft);
    // 1018 to 1022 have no anchor and keep their place.
}

void CKelvmonView::OnInitialUpdate() {
    if (!m_anchored) {
        m_anchored = true;
        AnchorControls();
        AddStatusAndFindBar();
    }
    if (auto* frame = dynamic_cast<CMainFrame*>(window()))
        frame->ApplyStayOnTop();
    CResizableFormView::OnInitialUpdate();
    if (auto* frame = dynamic_cast<platform::MainFrame*>(window()))
        frame->RecalcLayout();
    ResizeParentToFit(true);
    m_clock.textColor = platform::Rgb(0, 0, 128);

    CKelvmonDoc* doc = GetDocument();
    doc->LoadSettings();
    m_DisplayModeGrp = doc->m_DisplayModeGrp == DisplayRaw ? DisplayRaw : DisplayTrakbus;
    m_UseTimeStamp = doc->m_UseTimeStamp != 0 ? 1 : 0;
    m_SendStr = doc->m_SendStr;
    m_SendStr2 = doc->m_SendStr2;
    m_SendStr3 = doc->m_SendStr3;
    m_SendStr4 = doc->m_SendStr4;

    // Capture is off after every (re)start. A failure to write out the last lines of an
    // earlier capture is still reported.
    if (m_captureFile.IsOpen() && !m_captureFile.Close())
        CaptureFailed();
    m_bCaptureActive = 0;

    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    m_list.setFont(font);
    m_list.viewport()->update();

    m_CaptureFilePath = doc->m_CaptureFilePath;
    m_SendFilePath = doc->m_SendFilePath;
    OpenPort();

    m_receiver.Restart();
    m_receiver.SetDisplayMode(m_DisplayModeGrp);
    m_receiver.SetUseTimeStamp(m_UseTimeStamp != 0);
    m_nSendRemaining = 0;
    SetPauseCaption();
    m_nTimerId = SetTimer(TimerId, TimerPeriodMs);
    UpdateData(false);
}

void CKelvmonView::OpenPort() {
    ClosePort();
    const CKelvmonDoc* doc = GetDocument();
    const QByteArray device =
        QByteArray::fromStdString(serial::ComDeviceName(doc->m_ActiveComPort));
    m_receiver.ResetFramer();
    m_portFailure.clear();
    m_statistics.PortOpened();
    if (m_serial.OpenForWindow(device.constData(), MessageWindow(), 0, kSerialUserValue, kQueueSize,
                               kQueueSize) != SerialOk) {
        const int reason = m_serial.GetLastOpenReason();
        if (const char* text = serial::PortFailureText(reason))
            m_portFailure = QString::fromLatin1(text);
        // Another program may hold the port only for a moment (a loader probing it), so it is
        // tried again once a second, as a lost one is.
        if (serial::PortIsBusy(reason)) {
            m_bPortLost = true;
            m_nTicksToReopen = kTicksPerReopen;
        }
        return;
    }
    if (m_serial.SetLineFormat(static_cast<std::uint32_t>(BitRateOfIndex(doc->m_BitRate)), 8,
                               ParityNone, StopBitsOne) != SerialOk) {
        m_serial.Close();
        return;
    }
    m_serial.SetEventMask(EvRxChar | EvError);
    m_serial.SetFlowControl(FlowNone);
    m_serial.SetReadMode(ReadNonBlocking);
}

int CKelvmonView::OnSerialEvent(platform::WParam wParam, platform::LParam) {
    const std::uint32_t events = wParam & 0xFFFF;
    // Counted whatever the display does with the notification.
    if ((events & EvError) != 0 || (wParam >> 16) != 0)
        m_statistics.LineError();
    if (events != EvRxChar && events != EvError)
        return 0; // both bits together, or any other event: the bytes wait for the next one
    std::uint8_t* buffer = m_readBuffer;
    std::uint32_t count = 0;
    // The port reads in non-blocking mode: the read finishes at once with what has arrived.
    m_readRecord.signal = &m_readDone;
    if (m_serial.Read(buffer, kReadSize, &count, &m_readRecord, SerialInfinite) != SerialOk ||
        m_readRecord.status.load() != SerialOk)
        count = 0;
    if (events == EvRxChar) {
        m_statistics.Receive(buffer, count);
        m_receiver.Receive(buffer, count);
    } else {
        m_statistics.Discarded(count);
        m_receiver.OnLineError();
    }
    // A full read may have left bytes in the port. The port reports only new arrivals, so
    // without another pass they would wait for the next traffic; the pass is queued behind
    // whatever else is waiting, which keeps the window responsive.
    if (events == EvRxChar && count == kReadSize && m_serial.IsOpen())
        platform::PostMessage(MessageWindow()->Handle(), CSerialWnd::defaultComMessage, events,
                              kSerialUserValue);
    return 0;
}

void CKelvmonView::OnTimer(unsigned id) {
    if (id != TimerId || m_closing)
        return;
    // A port whose device has gone (a pulled adapter) can no longer tell its settings; it is
    // closed, so that the status says so, and tried again once a second until the adapter is
    // back. A port that the user closed or changed in the port set-up is left as it is.
    if (m_serial.IsOpen() && m_serial.GetBitRate() < 0) {
        ClosePort();
        m_bPortLost = true;
        m_nTicksToReopen = kTicksPerReopen;
    } else if (m_bPortLost && --m_nTicksToReopen <= 0) {
        OpenPort();
        m_bPortLost = !m_serial.IsOpen();
        m_nTicksToReopen = kTicksPerReopen;
    }
    const bool open = m_serial.IsOpen();
    const bool wasPaused = m_receiver.Paused();
    m_receiver.OnTimer(open);
    if (wasPaused && !m_receiver.Paused())
        SetPauseCaption(); // the pause ended with the port
    if (auto* status = Item<QLabel>(IdcPortStatus)) {
        QString text = PortStatusText(open, m_receiver.Paused(), GetDocument()->m_ActiveComPort);
        if (!open && !m_portFailure.isEmpty())
            text += QStringLiteral(": ") + m_portFailure; // the field is narrow: also a tooltip
        status->setText(text);
        status->setToolTip(text);
    }
    // The lines of the last quarter second go to the disk now, so that a crash loses little.
    if (m_captureFile.IsOpen() && !m_captureFile.Flush())
        CaptureFailed();
}

void CKelvmonView::SetPauseCaption() {
    if (auto* pause = Item<QAbstractButton>(IdcPause))
        pause->setText(m_receiver.Paused() ? QStringLiteral("RUN") : QStringLiteral("PAUSE"));
}

void CKelvmonView::OnPause() {
    m_receiver.TogglePause();
    SetPauseCaption();
}

void CKelvmonView::OnClear() {
    m_list.Clear();
    m_statistics.Clear();
}

int CKelvmonView::PortBitRate() const {
    return m_serial.IsOpen() ? BitRateOfIndex(GetDocument()->m_BitRate) : 0;
}

void CKelvmonView::AddStatusAndFindBar() {
    m_findBar = new CTrafficFindBar(m_list, Surface());
    auto* frame = dynamic_cast<QMainWindow*>(window());
    if (frame == nullptr)
        return;
    m_statusLabel = new CBusStatusLabel();
    m_statusLabel->bitRate = [this] { return PortBitRate(); };
    m_statusLabel->source = [this] { return m_statistics.Sample(PortBitRate()); };
    frame->statusBar()->addPermanentWidget(m_statusLabel);
}

void CKelvmonView::OnTrakbusData() {
    UpdateData(true);
    m_receiver.SetDisplayMode(m_DisplayModeGrp);
    GetDocument()->m_DisplayModeGrp = m_DisplayModeGrp;
}

void CKelvmonView::OnRawData() {
    m_receiver.SelectRawData();
    UpdateData(true);
    m_receiver.SetDisplayMode(m_DisplayModeGrp);
    GetDocument()->m_DisplayModeGrp = m_DisplayModeGrp;
}

void CKelvmonView::OnTimeStamp() {
    UpdateData(true);
    m_receiver.SetUseTimeStamp(m_UseTimeStamp != 0);
    GetDocument()->m_UseTimeStamp = m_UseTimeStamp;
}

void CKelvmonView::CaptureLine(const TrafficLine& line) {
    if (!m_bCaptureActive || !m_captureFile.IsOpen())
        return;
    if (!m_captureFile.WriteLine(LineText(line)))
        CaptureFailed();
}

void CKelvmonView::CaptureFailed() {
    m_captureFile.Close(); // already closed by the failure; a no-op then
    m_bCaptureActive = 0;
    if (auto* box = Item<QAbstractButton>(IdcCaptureActive))
        box->setChecked(false);
    if (m_captureErrorPending)
        return;
    m_captureErrorPending = true;
    // Shown from the event loop, not from within the receive path that found the failure.
    const QString text =
        QStringLiteral("Could Not Write capture File\n%1").arg(m_captureFile.Error());
    QTimer::singleShot(0, this, [this, text] {
        platform::MessageBox(this, text);
        m_captureErrorPending = false;
    });
}

void CKelvmonView::OnSelectCaptureFile() {
    const auto path = platform::ChooseFile(
        this, PathChooser(QStringLiteral("Select .cap or .txt File for Capture"),
                          QStringLiteral("Capture Files (*.cap *.txt)|*.cap; *.txt||"),
                          m_CaptureFilePath));
    if (!path)
        return;
    // An open capture file stays open; the new path is used from the next switch-on.
    GetDocument()->m_CaptureFilePath = *path;
    m_CaptureFilePath = *path;
    UpdateData(false);
}

void CKelvmonView::OnCaptureActive() {
    UpdateData(true);
    if (m_bCaptureActive) {
        if (!m_captureFile.Open(GetDocument()->m_CaptureFilePath))
            platform::MessageBox(this, QStringLiteral("Could Not Open capture File"));
    } else if (!m_captureFile.Close()) {
        CaptureFailed();
    }
}

QString& CKelvmonView::SendStr(int n) {
    switch (n) {
    case 2:
        return m_SendStr2;
    case 3:
        return m_SendStr3;
    case 4:
        return m_SendStr4;
    default:
        return m_SendStr;
    }
}

QString& CKelvmonView::DocSendStr(int n) {
    CKelvmonDoc* doc = GetDocument();
    switch (n) {
    case 2:
        return doc->m_SendStr2;
    case 3:
        return doc->m_SendStr3;
    case 4:
        return doc->m_SendStr4;
    default:
        return doc->m_SendStr;
    }
}

void CKelvmonView::OnKillFocusSendStr(int n) {
    if (m_closing)
        return;
    UpdateData(true);
    DocSendStr(n) = SendStr(n);
}

void CKelvmonView::OnSendMsg(int n) {
    const QString copy = SendStr(n);
    std::uint8_t buffer[kSendBufferSize];
    const bool trakbus = m_DisplayModeGrp != DisplayRaw;
    const int count = BuildSendMessage(copy, trakbus, buffer, kSendBufferSize);
    if (count == 0)
        return;
    std::uint32_t written = 0;
    SendBytes(buffer, static_cast<std::uint32_t>(count), written);
}

std::int32_t CKelvmonView::SendBytes(const std::uint8_t* data, std::uint32_t length,
                                     std::uint32_t& written) {
    written = 0;
    // During a file transfer a message waits for the chunk under way, so that the two never
    // mix on the line.
    std::lock_guard lock(m_writeLock);
    if (!m_serial.IsOpen())
        return 1;
    const auto rate = static_cast<std::uint32_t>(BitRateOfIndex(GetDocument()->m_BitRate));
    return m_serial.Write(data, length, &written, nullptr, WriteTimeoutMs(length, rate));
}

void CKelvmonView::OnSelectSendFile() {
    const auto path = platform::ChooseFile(
        this,
        PathChooser(QStringLiteral("Select .cap or .txt File for Sending"),
                    QStringLiteral("Send Files (*.cap *.txt)|*.cap; *.txt||"), m_SendFilePath));
    if (!path)
        return;
    GetDocument()->m_SendFilePath = *path;
    m_SendFilePath = *path;
    if (!m_sendJob.Running()) // a running transfer keeps counting its own file
        m_nSendRemaining = static_cast<std::uint32_t>(SendFileLength(*path));
    UpdateData(false);
}

void CKelvmonView::OnSendFile() {
    if (m_sendJob.Running()) {
        m_sendJob.RequestStop(); // the end is shown when the chunk under way is done
        return;
    }
    if (m_sendOpen)
        ShowSendProgress(); // the end of the last transfer, not taken up yet
    m_SendFilePath = GetDocument()->m_SendFilePath;
    const std::uint64_t total = SendFileLength(m_SendFilePath);
    m_nSendRemaining = static_cast<std::uint32_t>(total);
    if (!m_serial.IsOpen() || total == 0) {
        m_nSendRemaining = 0;
        return;
    }
    // Each chunk's progress is taken up on this thread, in the order the chunks went out.
    const auto progress = [this] {
        QMetaObject::invokeMethod(
            this, [this] { ShowSendProgress(); }, Qt::QueuedConnection);
    };
    m_sendOpen = m_sendJob.Start(
        m_SendFilePath, total,
        [this](const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) {
            return SendBytes(data, length, written);
        },
        progress);
    ShowSendProgress();
}

void CKelvmonView::ShowSendProgress() {
    if (m_sendProgress == nullptr) {
        auto* frame = dynamic_cast<QMainWindow*>(window());
        if (frame == nullptr)
            return;
        m_sendProgress = new QLabel(frame->statusBar());
        m_sendProgress->setAccessibleName(QStringLiteral("Send file progress"));
        frame->statusBar()->addWidget(m_sendProgress);
    }
    const std::uint64_t sent = m_sendJob.BytesSent();
    const std::uint64_t total = m_sendJob.Total();
    if (m_sendJob.Running()) {
        m_nSendRemaining = static_cast<std::uint32_t>(total - std::min(sent, total));
        m_sendProgress->setText(
            QStringLiteral("Sending file: %1 of %2 bytes").arg(sent).arg(total));
        return;
    }
    if (!m_sendOpen)
        return; // shown already
    m_sendJob.Wait();
    m_sendOpen = false;
    m_nSendRemaining = 0;
    const SendFileResult& result = m_sendJob.Result();
    const QString outcome = result.stopped        ? QStringLiteral("File sending stopped")
                            : result.stoppedShort ? QStringLiteral("File sending failed")
                                                  : QStringLiteral("File sent");
    m_sendProgress->setText(QStringLiteral("%1: %2 of %3 bytes").arg(outcome).arg(sent).arg(total));
}

bool CKelvmonView::PreTranslateMessage(QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape && m_sendJob.Running()) {
        m_sendJob.RequestStop();
        return true;
    }
    return CResizableFormView::PreTranslateMessage(key);
}
