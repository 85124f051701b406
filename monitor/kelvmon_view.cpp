#include "monitor/kelvmon_view.h"

#include "busproto/checksum.h"
#include "monitor/bus_status_label.h"
#include "monitor/hex_text.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/main_frame.h"
#include "monitor/send_file.h"
#include "monitor/traffic/traffic_filter_bar.h"
#include "monitor/traffic/traffic_find_bar.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

using namespace kelvmon;

namespace {

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

CKelvmonView::CKelvmonView()
    : CResizableFormView(MainForm()), m_receiver(*this),
      m_capture(*this, [this] { CaptureStopped(); }),
      m_writer([this](const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) {
          return SendBytes(data, length, written);
      }) {
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
    // A write under way is cut short by the closing port.
    m_writer.Cancel();
    m_port.Close();
    m_writer.WaitIdle();
}

void CKelvmonView::OnFrameClosing() {
    ClosePort();
    if (!m_capture.CloseNow())
        m_bCaptureActive = 0;
}

void CKelvmonView::ClosePort() {
    // The write under way returns once the port is closed; the transfer then ends and the
    // messages not sent yet are dropped before the port can be opened again, so that nothing
    // goes to a port opened since.
    m_writer.Cancel();
    m_port.Close();
    m_writer.WaitIdle();
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
    m_capture.Stop();
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
    m_receiver.ResetFramer();
    m_statistics.PortOpened();
    m_port.Open(doc->m_ActiveComPort, BitRateOfIndex(doc->m_BitRate), MessageWindow());
}

int CKelvmonView::OnSerialEvent(platform::WParam wParam, platform::LParam) {
    const std::uint32_t events = wParam & 0xFFFF;
    // Counted whatever the display does with the notification.
    if ((events & EvError) != 0 || (wParam >> 16) != 0)
        m_statistics.LineError();
    if (events != EvRxChar && events != EvError)
        return 0; // both bits together, or any other event: the bytes wait for the next one
    const std::uint8_t* buffer = nullptr;
    const std::uint32_t count = m_port.ReadArrived(buffer);
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
    if (events == EvRxChar && count == CPortKeeper::kReadSize)
        m_port.NotifyAgain(MessageWindow(), events);
    return 0;
}

void CKelvmonView::OnTimer(unsigned id) {
    if (id != TimerId || m_closing)
        return;
    // A port whose device has gone (a pulled adapter) is closed, so that the status says so,
    // and tried again once a second until the adapter is back. A port that the user closed or
    // changed in the port set-up is left as it is.
    switch (m_port.OnTimer()) {
    case CPortKeeper::Tick::DeviceGone:
        ClosePort();
        m_port.RetryLater();
        break;
    case CPortKeeper::Tick::RetryDue:
        OpenPort();
        if (!m_port.IsOpen())
            m_port.RetryLater();
        break;
    case CPortKeeper::Tick::Nothing:
        break;
    }
    const bool open = m_port.IsOpen();
    const bool wasPaused = m_receiver.Paused();
    m_receiver.OnTimer(open);
    if (wasPaused && !m_receiver.Paused())
        SetPauseCaption(); // the pause ended with the port
    ShowPortStatus(open);
    // The lines of the last quarter second go to the disk now, so that a crash loses little.
    m_capture.Flush();
}

void CKelvmonView::ShowPortStatus(bool open) {
    auto* status = Item<QLabel>(IdcPortStatus);
    if (status == nullptr)
        return;
    // The narrow box keeps the form's own text; why a port is closed goes to its tooltip, its
    // description for screen readers and the status bar.
    const int port = GetDocument()->m_ActiveComPort;
    status->setText(PortStatusText(open, m_receiver.Paused(), port));
    const QString reason = open ? QString() : m_port.Failure();
    const QString detail =
        reason.isEmpty() ? status->text() : status->text() + QStringLiteral(": ") + reason;
    if (status->toolTip() == detail)
        return;
    status->setToolTip(detail);
    status->setAccessibleDescription(reason);
    auto* frame = dynamic_cast<QMainWindow*>(window());
    if (frame == nullptr)
        return;
    const QString message =
        reason.isEmpty() ? QString() : QStringLiteral("COM%1: %2").arg(port).arg(reason);
    if (!message.isEmpty())
        frame->statusBar()->showMessage(message);
    else if (frame->statusBar()->currentMessage() == m_portMessage)
        frame->statusBar()->clearMessage();
    m_portMessage = message;
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

void CKelvmonView::AddStatusAndFindBar() {
    m_findBar = new CTrafficFindBar(m_list, Surface());
    m_filterBar = new CTrafficFilterBar(m_list, Surface());
    auto* frame = dynamic_cast<QMainWindow*>(window());
    if (frame == nullptr)
        return;
    if (auto* mainFrame = dynamic_cast<CMainFrame*>(frame))
        mainFrame->AddTrafficMenu(m_findBar->OpenAction(), m_filterBar->OpenAction());
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
    if (m_bCaptureActive)
        m_capture.Write(line);
}

void CKelvmonView::CaptureStopped() {
    m_bCaptureActive = 0;
    if (auto* box = Item<QAbstractButton>(IdcCaptureActive))
        box->setChecked(false);
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
    if (m_bCaptureActive)
        m_capture.Start(GetDocument()->m_CaptureFilePath); // the box stays ticked on failure
    else
        m_capture.Stop();
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
    if (count == 0 || !m_port.IsOpen())
        return; // nothing is kept for a port opened later
    if (!m_writer.Queue(std::vector<std::uint8_t>(buffer, buffer + count)))
        QApplication::beep(); // so many messages wait already that the line is far behind
}

std::int32_t CKelvmonView::SendBytes(const std::uint8_t* data, std::uint32_t length,
                                     std::uint32_t& written) {
    const auto rate = static_cast<std::uint32_t>(m_port.BitRate());
    return m_port.Write(data, length, written, WriteTimeoutMs(length, rate));
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
    if (!m_writer.Running()) // a running transfer keeps counting its own file
        m_nSendRemaining = static_cast<std::uint32_t>(SendFileLength(*path));
    UpdateData(false);
}

void CKelvmonView::OnSendFile() {
    if (m_writer.Running()) {
        m_writer.RequestStop(); // the end is shown when the chunk under way is done
        return;
    }
    if (m_sendOpen)
        ShowSendProgress(); // the end of the last transfer, not taken up yet
    m_SendFilePath = GetDocument()->m_SendFilePath;
    const std::uint64_t total = SendFileLength(m_SendFilePath);
    m_nSendRemaining = static_cast<std::uint32_t>(total);
    if (!m_port.IsOpen() || total == 0) {
        m_nSendRemaining = 0;
        return;
    }
    // Each chunk's progress is taken up on this thread, in the order the chunks went out.
    const auto progress = [this] {
        QMetaObject::invokeMethod(
            this, [this] { ShowSendProgress(); }, Qt::QueuedConnection);
    };
    m_sendOpen = m_writer.StartFile(m_SendFilePath, total, progress);
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
    const std::uint64_t sent = m_writer.BytesSent();
    const std::uint64_t total = m_writer.Total();
    if (m_writer.Running()) {
        m_nSendRemaining = static_cast<std::uint32_t>(total - std::min(sent, total));
        m_sendProgress->setText(
            QStringLiteral("Sending file: %1 of %2 bytes").arg(sent).arg(total));
        return;
    }
    if (!m_sendOpen)
        return; // shown already
    m_sendOpen = false;
    m_nSendRemaining = 0;
    const SendFileResult result = m_writer.Result();
    const QString outcome = result.stopped        ? QStringLiteral("File sending stopped")
                            : result.stoppedShort ? QStringLiteral("File sending failed")
                                                  : QStringLiteral("File sent");
    m_sendProgress->setText(QStringLiteral("%1: %2 of %3 bytes").arg(outcome).arg(sent).arg(total));
}

bool CKelvmonView::PreTranslateMessage(QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape && m_writer.Running()) {
        m_writer.RequestStop();
        return true;
    }
    return CResizableFormView::PreTranslateMessage(key);
}
