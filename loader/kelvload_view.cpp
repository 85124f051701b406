#include "loader/kelvload_view.h"

#include "loader/discover_dlg.h"
#include "loader/kelvload_app_doc.h"
#include "loader/kelvload_ids.h"
#include "loader/kelvload_resources.h"
#include "loader/port_list.h"
#include "loader/progress_text.h"
#include "loader/view_states.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/main_frame.h"
#include "platform/gui/string_table.h"
#include "serial/port_failure.h"
#include "serial/port_info.h"
#include "serial/port_watcher.h"
#include "serial/serial_wnd.h"

#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

using namespace kelvload;

namespace {

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString DisplayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

CKelvloadView::CKelvloadView()
    : platform::FormView(MainFormTemplate()), CTransferEngine(nullptr, MessageWindow()) {
    OnCommand(IdcStartStop, platform::Notify::Clicked, [this] { OnStartStop(); });
    OnCommand(IdcSelectFile, platform::Notify::Clicked, [this] { OnSelectFile(); });
    OnCommand(IdcPortList, platform::Notify::SelChange, [this] { OnPortChange(); });
    OnCommand(IdcBitRateList, platform::Notify::SelChange, [this] { OnBitRateChange(); });
    OnCommand(IdcFindDevices, platform::Notify::Clicked, [this] { OnFindDevices(); });
    MapMessage(CSerialWnd::defaultComMessage,
               [this](platform::WParam w, platform::LParam l) { OnSerialNotify(w, l); });
}

CKelvloadView::~CKelvloadView() {
    OnDestroy();
}

CKelvloadAppDoc* CKelvloadView::GetDocument() const {
    return dynamic_cast<CKelvloadAppDoc*>(platform::FormView::GetDocument());
}

void CKelvloadView::DoDataExchange(platform::DataExchange& dx) {
    dx.Control(IdcClock, m_clock);
    dx.Control(IdcStatus, m_lamp);
    dx.Control(IdcStartStop, m_startStop);
    dx.Control(IdcPortList, m_portList);
    dx.Control(IdcBitRateList, m_bitRateList);
    dx.Text(IdcPath, m_strPath);
    dx.Text(IdcInfo, m_strInfo);
}

void CKelvloadView::OnInitialUpdate() {
    CKelvloadAppDoc* doc = GetDocument();
    if (m_bInitialised) {
        // Lists, image buffer and timer exist already: only a file named by a later open of
        // the document is taken.
        platform::FormView::OnInitialUpdate();
        if (doc != nullptr && !doc->GetPathName().isEmpty() && !RunUnderWay()) {
            LoadSourceFile(doc->GetPathName());
            m_bFailed = 0;
            UpdateState();
            UpdateData(false);
        }
        return;
    }
    m_bInitialised = true;
    m_pDoc = doc;

    platform::FormView::OnInitialUpdate();
    if (auto* frame = dynamic_cast<platform::MainFrame*>(window())) {
        frame->RecalcLayout();
    }
    ResizeParentToFit();

    m_clock.textColor = ColorGrey;
    m_lamp.SetText(QString());
    m_startStop.SetColors(ColorBlack, ColorGrey);

    if (doc != nullptr) {
        doc->LoadSettings();
    }
    m_portSurvey = std::make_unique<serial::PortSurvey>(
        [this](const serial::PortSurvey::Result& survey) { FillPortList(survey); });
    RefreshPortList();
    FillBitRateList();
    m_portWatcher = std::make_unique<serial::PortWatcher>([this] { RefreshPortList(); });

    m_nProgress = 0;
    m_nImageLength = 0;
    if (doc != nullptr) {
        const QString start =
            doc->GetPathName().isEmpty() ? DisplayPath(doc->m_SrcPath) : doc->GetPathName();
        LoadSourceFile(start);
    }

    m_nTimerId = SetTimer(DisplayTimerId, DisplayTimerPeriodMs);
    m_nState = StateReady;
    m_nShownState = -1;
    UpdateState();
    UpdateData(false);
    // The first draw comes now rather than a second later.
    OnTimer(m_nTimerId);
}

void CKelvloadView::FillPortList(const serial::PortSurvey::Result& survey) {
    // A run that began while the survey ran is not disturbed; the list catches up after it.
    m_bPortsChanged = RunUnderWay();
    if (m_bPortsChanged) {
        return;
    }
    const int index = m_portList.currentIndex();
    const int stored = m_pDoc != nullptr ? m_pDoc->m_ActiveComPort : 0;
    const int wanted = index >= 0 ? m_portList.itemData(index).toInt() : stored;
    // Our own open port probes as in use; it is still there.
    const int ours = m_pDoc != nullptr && m_pDoc->IsPortOpen() ? m_pDoc->m_ActiveComPort : 0;
    const std::vector<ListedPort> ports = FreeComPorts(survey, ours);
    m_portList.clear();
    for (const ListedPort& port : ports) {
        m_portList.addItem(QStringLiteral("COM%1").arg(port.number), port.number);
        const serial::PortInfo info{DisplayPath(port.device).toStdString(), port.byId};
        m_portList.setItemData(m_portList.count() - 1,
                               QString::fromStdString(serial::PortTooltip(info)), Qt::ToolTipRole);
        if (port.number == wanted) {
            m_portList.setCurrentIndex(m_portList.count() - 1);
        }
    }
    // A stored port that is not offered leaves the list without a selection.
    if (m_portList.findData(wanted) < 0) {
        m_portList.setCurrentIndex(-1);
    }
    m_portList.setToolTip(m_portList.currentData(Qt::ToolTipRole).toString());
}

void CKelvloadView::RefreshPortList() {
    // Nothing looks at the ports during a run; the list catches up when the run has ended.
    m_bPortsChanged = RunUnderWay();
    if (m_bPortsChanged) {
        return;
    }
    m_portSurvey->Start(ListedComNames());
}

bool CKelvloadView::IsSurveyingPorts() const {
    return m_portSurvey != nullptr && m_portSurvey->Pending();
}

void CKelvloadView::SetPortTooltip(int index, const QString& reason) {
    if (index < 0) {
        return;
    }
    const ListedPort port = DescribeComPort(m_portList.itemData(index).toInt());
    const serial::PortInfo info{DisplayPath(port.device).toStdString(), port.byId};
    const QString text = QString::fromStdString(serial::PortTooltip(info, reason.toStdString()));
    m_portList.setItemData(index, text, Qt::ToolTipRole);
    if (index == m_portList.currentIndex()) {
        m_portList.setToolTip(text);
    }
}

void CKelvloadView::FillBitRateList() {
    m_bitRateList.clear();
    for (std::uint32_t rate : kBitRates) {
        m_bitRateList.addItem(QString::number(rate), rate);
    }
    m_bitRateList.setCurrentIndex(m_pDoc != nullptr ? m_pDoc->m_BitRate : 2);
}

void CKelvloadView::LoadSourceFile(const QString& path) {
    m_strPath = path;
    std::string info = m_strInfo.toStdString();
    const int result = LoadFirmwareFile(LocalPath(path), info);
    // A file that does not load shows the state text, not the header it may have had.
    m_strInfo = result == 0 ? QString::fromStdString(info) : platform::LoadString(IdsNoFile);
    if (result == 0 && m_pDoc != nullptr) {
        m_pDoc->m_SrcPath = LocalPath(path);
    }
}

void CKelvloadView::ShowNoFileText() {
    m_strInfo = platform::LoadString(IdsNoFile);
    platform::SetWindowText(GetDlgItem(IdcInfo), m_strInfo);
}

bool CKelvloadView::RunUnderWay() const {
    return m_bBusy == 1 || IsWorkerRunning();
}

void CKelvloadView::OnSelectFile() {
    if (RunUnderWay()) {
        return; // the worker is reading the image and header
    }
    platform::FileChooserRequest request;
    request.title = platform::LoadString(IdsSelectFileTitle);
    request.filter = QStringLiteral("KFW Files (*.kfw)|*.kfw||");
    request.initialFolder = m_strPath;
    request.flags = platform::OfnHideReadOnly | platform::OfnNoChangeDir | platform::OfnLongNames;
    const std::optional<QString> chosen = platform::ChooseFile(this, request);
    if (!chosen || RunUnderWay()) {
        return;
    }
    LoadSourceFile(*chosen);
    m_bFailed = 0;
    UpdateState();
    UpdateData(false);
}

void CKelvloadView::OnStartStop() {
    std::string info = m_strInfo.toStdString();
    if (m_bBusy == 1) {
        StartStop({}, info); // only the stop request
        return;
    }
    if (IsWorkerRunning()) {
        return; // a stopped run is still sending its end message
    }
    ApplyDeferredLinkChoice();
    UpdateData(true);
    info = m_strInfo.toStdString();
    const int started = StartStop(LocalPath(m_strPath), info);
    if (m_bFileValid == 0) {
        // The members go to the controls only on success: the summary of a file that did not
        // load is not shown, the info area keeps the state text.
        ShowNoFileText();
        return;
    }
    m_strInfo = QString::fromStdString(info);
    UpdateData(false);
    if (started == 1) {
        m_lamp.SetRange(0, static_cast<std::uint32_t>(m_nImageLength));
    }
}

void CKelvloadView::OnPortChange() {
    const int index = m_portList.currentIndex();
    if (index < 0 || m_pDoc == nullptr) {
        return;
    }
    const int port = m_portList.itemData(index).toInt();
    m_portList.setToolTip(m_portList.itemData(index, Qt::ToolTipRole).toString());
    if (IsWorkerRunning()) {
        m_deferredPort = port;
    } else {
        m_pDoc->m_ActiveComPort = port;
    }
    UpdateState();
}

void CKelvloadView::OnBitRateChange() {
    const int index = m_bitRateList.currentIndex();
    if (index < 0 || m_pDoc == nullptr) {
        return;
    }
    if (IsWorkerRunning()) {
        m_deferredBitRate = index;
    } else {
        m_pDoc->m_BitRate = index;
    }
    UpdateState();
}

void CKelvloadView::ApplyDeferredLinkChoice() {
    if (m_pDoc == nullptr || IsWorkerRunning()) {
        return;
    }
    if (m_deferredPort) {
        m_pDoc->m_ActiveComPort = *m_deferredPort;
        m_deferredPort.reset();
    }
    if (m_deferredBitRate) {
        m_pDoc->m_BitRate = *m_deferredBitRate;
        m_deferredBitRate.reset();
    }
}

void CKelvloadView::OnFindDevices() {
    CKelvloadAppDoc* doc = GetDocument();
    if (doc == nullptr) {
        return;
    }
    if (auto* open = dynamic_cast<QWidget*>(doc->m_pDiscoverDlg)) {
        open->show();
        open->raise();
        open->activateWindow();
        return;
    }
    if (RunUnderWay()) {
        return; // opening the port would cut off the download
    }
    ApplyDeferredLinkChoice();
    // Opened on the request thread, in order with the requests and with the close of an
    // earlier discovery window.
    doc->QueueRequest(
        [window = MessageWindow()](CKelvloadDoc& link) { link.OpenIdlePort(window); });
    CDiscoverDlg::m_pDoc = doc;
    QPointer<CKelvloadView> self(this);
    auto* dialog = new CDiscoverDlg([self] { return self != nullptr && self->RunUnderWay(); });
    doc->m_pDiscoverDlg = dialog;
    dialog->Create();
}

int CKelvloadView::OnSerialNotify(platform::WParam wParam, platform::LParam) {
    if (m_pDoc != nullptr) {
        m_pDoc->HandleSerialEvent(wParam);
    }
    return 0;
}

void CKelvloadView::OnTimer(unsigned id) {
    if (id == m_nTimerId && id != 0) {
        ApplyDeferredLinkChoice();
        const int state = m_nState;
        ShowProgressInStatusBar(state == StateProgramming);
        if (state != m_nShownState) {
            m_nShownState = state;
            DrawState(state);
            if (state == StateProgramming) {
                // Draw again at the next tick, to move the lamp with the progress.
                m_nShownState = ~state;
            }
        }
    }
    platform::FormView::OnTimer(id);
}

void CKelvloadView::ShowProgressInStatusBar(bool programming) {
    auto* frame = dynamic_cast<QMainWindow*>(window());
    QStatusBar* bar = frame != nullptr ? frame->statusBar() : nullptr;
    if (bar == nullptr) {
        return;
    }
    if (programming) {
        bar->showMessage(QString::fromStdString(FormatProgressLine(Progress())));
        m_bProgressShown = true;
    } else if (m_bProgressShown) {
        bar->clearMessage();
        m_bProgressShown = false;
    }
}

void CKelvloadView::DrawState(int state) {
    const StateLook& look = LookOfState(state);
    m_startStop.SetColors(ColorBlack, look.buttonFace);
    m_startStop.setText(QString::fromLatin1(look.buttonCaption));
    if (look.buttonEnable != ButtonEnable::Unchanged) {
        m_startStop.setEnabled(look.buttonEnable == ButtonEnable::Enable);
    }
    const QString text = platform::LoadString(look.textId);
    m_lamp.SetText(text);
    if (state == StatePortFailed && m_pDoc != nullptr) {
        // The lamp keeps its text; the port's tooltip says why, when the reason is known.
        const std::string reason = serial::RefusalText(m_pDoc->m_serial.GetLastRefusal());
        SetPortTooltip(m_portList.findData(m_pDoc->m_ActiveComPort),
                       QString::fromStdString(reason));
    }
    m_lamp.SetPosition(look.showProgress ? static_cast<std::uint32_t>(m_nProgress.load()) : 0);
    m_lamp.SetLampColor(look.lampColor);
    if (state == StateNoFile) {
        ShowNoFileText();
    }
    // Choosing a file or opening the port would disturb a run.
    const bool idle = state != StateProgramming;
    for (int id : {IdcSelectFile, IdcFindDevices}) {
        if (QWidget* button = GetDlgItem(id)) {
            button->setEnabled(idle);
        }
    }
    if (idle && m_bPortsChanged) {
        RefreshPortList();
    }
}

bool CKelvloadView::PreTranslateMessage(QKeyEvent& key) {
    if (key.key() != Qt::Key_Space && key.key() != Qt::Key_F11) {
        return platform::FormView::PreTranslateMessage(key);
    }
    // A held key repeats; only its first press acts, so holding it does not start and stop.
    if (!key.isAutoRepeat()) {
        OnStartStop();
    }
    return true;
}

void CKelvloadView::StopRunAndWait() {
    m_bBusy = 0;
    if (!IsWorkerRunning()) {
        return;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
        if (!IsWorkerRunning()) {
            loop.quit();
        }
    });
    poll.start(5);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CKelvloadView::OnDestroy() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    m_portWatcher.reset();
    m_portSurvey.reset(); // a survey still running is dropped, not waited for
    StopAndWait();
    if (m_nTimerId != 0) {
        KillTimer(m_nTimerId);
        m_nTimerId = 0;
    }
    if (m_pDoc == nullptr) {
        return;
    }
    ApplyDeferredLinkChoice();
    m_pDoc->StopRequests();
    m_pDoc->ClosePort();
    if (m_bInitialised) {
        GetDocument()->SaveSettings();
    }
}
