#include "monitor/main_frame.h"

#include "monitor/about_dlg.h"
#include "monitor/capture_window.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/kelvmon_view.h"
#include "monitor/port_setup.h"
#include "platform/gui/message_box.h"
#include "platform/gui/string_table.h"
#include "platform/gui/window_placement.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

using namespace kelvmon;

namespace {

const QString kWindowPosSection = QStringLiteral("WindowPos");
const QString kWindowPosKey = QStringLiteral("WindowPos");

// The stored placement and the window's have the same ten values under the same names.
template <class To, class From> To CopyPlacement(const From& p) {
    To out;
    out.length = p.length;
    out.flags = p.flags;
    out.showCmd = p.showCmd;
    out.minX = p.minX;
    out.minY = p.minY;
    out.maxX = p.maxX;
    out.maxY = p.maxY;
    out.left = p.left;
    out.top = p.top;
    out.right = p.right;
    out.bottom = p.bottom;
    return out;
}

} // namespace

CMainFrame::CMainFrame() {
    CreateMenus();
    // The stored placement and stay-on-top state; the placement is applied when the frame is
    // first shown.
    m_WindowPlacement.length = WindowPlacement::kValidLength;
    if (!LoadWindowPos(m_WindowPlacement)) {
        m_WindowPlacement.length = 0;
        m_bStayOnTop = 0;
    }
    g_ProjectFilePath = KelvmonProfile().GetProfileString(
        QStringLiteral("FilePaths"), QStringLiteral("g_ProjectFilePath"), QString());
    setWindowTitle(QStringLiteral("Kestrom -- kelvmon  ") + platform::LoadString(IdsVersion));
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open Capture..."), [this] { OnOpenCapture(); });
    file->addAction(QStringLiteral("&Export as pcap..."), [this] { OnExportAsPcap(); });
    file->addSeparator();
    m_stayOnTopItem = file->addAction(QStringLiteral("Stay On Top"), [this] { OnStayOnTop(); });
    m_stayOnTopItem->setCheckable(true);
    m_stayOnTopItem->setData(IdStayOnTop);
    connect(file, &QMenu::aboutToShow, this, [this] { OnUpdateStayOnTop(*m_stayOnTopItem); });
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);

    QAction* portSetup = menuBar()->addAction(QStringLiteral("&PortSetup"));
    portSetup->setData(IdPortSetup);
    connect(portSetup, &QAction::triggered, this, [this] { OnPortSetup(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About kelvmon..."), [this] { OnAppAbout(); });
}

bool CMainFrame::LoadWindowPos(WindowPlacement& placement) {
    const QString text = KelvmonProfile().GetProfileString(kWindowPosSection, kWindowPosKey);
    if (text.isEmpty())
        return false;
    bool onTop = false;
    if (!ParseWindowPos(text, placement, onTop))
        return false;
    m_bStayOnTop = onTop ? 1 : 0;
    return true;
}

void CMainFrame::SaveWindowPos(WindowPlacement& placement) {
    if (m_bStayOnTop)
        placement.flags |= WindowPlacement::kStayOnTopBit;
    else
        placement.flags &= ~WindowPlacement::kStayOnTopBit;
    KelvmonProfile().WriteProfileString(kWindowPosSection, kWindowPosKey,
                                        FormatWindowPos(placement, m_bStayOnTop != 0));
}

void CMainFrame::ActivateFrame(int showCommand) {
    if (m_WindowPlacement.length != 0) {
        // A stored placement never starts the program without a window to see.
        if (m_WindowPlacement.showCmd == platform::SwHide)
            m_WindowPlacement.showCmd = WindowPlacement::kShowNormal;
        showCommand = m_WindowPlacement.showCmd;
        // A placement that lies wholly off the present screens comes back onto the primary one.
        QList<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens.append(screen->availableGeometry());
        if (const QScreen* primary = QGuiApplication::primaryScreen())
            m_WindowPlacement.SetNormalRect(PlaceOnScreens(m_WindowPlacement.NormalRect(), screens,
                                                           primary->availableGeometry()));
        platform::SetWindowPlacement(*this,
                                     CopyPlacement<platform::WindowPlacement>(m_WindowPlacement));
    }
    platform::MainFrame::ActivateFrame(showCommand);
}

bool CMainFrame::OnClose() {
    if (auto* view = dynamic_cast<CKelvmonView*>(GetActiveView()))
        view->OnFrameClosing();
    KelvmonProfile().WriteProfileString(QStringLiteral("FilePaths"),
                                        QStringLiteral("g_ProjectFilePath"), g_ProjectFilePath);
    platform::WindowPlacement current;
    if (platform::GetWindowPlacement(*this, current)) {
        WindowPlacement placement = CopyPlacement<WindowPlacement>(current);
        if (isMaximized())
            placement.flags |= WindowPlacement::kRestoreToMaximized;
        SaveWindowPos(placement);
    }
    return platform::MainFrame::OnClose();
}

void CMainFrame::OnStayOnTop() {
    m_bStayOnTop = m_bStayOnTop ? 0 : 1;
    ApplyStayOnTop();
}

void CMainFrame::OnUpdateStayOnTop(QAction& item) const {
    item.setChecked(m_bStayOnTop != 0);
}

void CMainFrame::ApplyStayOnTop() {
    platform::SetTopMost(*this, m_bStayOnTop != 0);
    if (m_stayOnTopItem != nullptr)
        OnUpdateStayOnTop(*m_stayOnTopItem);
}

void CMainFrame::AddTrafficMenu(QAction* find, QAction* filter) {
    // Between File and PortSetup.
    QMenu* edit = new QMenu(QStringLiteral("&Edit"), menuBar());
    edit->addAction(find);
    edit->addAction(filter);
    const QList<QAction*> items = menuBar()->actions();
    menuBar()->insertMenu(items.size() > 1 ? items[1] : nullptr, edit);
}

CCaptureWindow* CMainFrame::OpenCapture(const QString& path) {
    auto* window = new CCaptureWindow();
    if (!window->Load(path)) {
        platform::MessageBox(this,
                             QStringLiteral("Could not open the capture file: ") + window->Error());
        delete window;
        return nullptr;
    }
    window->show();
    return window;
}

void CMainFrame::OnOpenCapture() {
    auto* doc = dynamic_cast<CKelvmonDoc*>(GetActiveDocument());
    const QString start = doc != nullptr ? doc->m_CaptureFilePath : QString();
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open Capture"), start,
                                     QStringLiteral("Capture Files (*.cap *.txt);;All files (*)"));
    if (!path.isEmpty())
        OpenCapture(path);
}

void CMainFrame::OnExportAsPcap() {
    auto* view = dynamic_cast<CKelvmonView*>(GetActiveView());
    if (view == nullptr)
        return;
    view->TrafficList().Publish();
    ExportAsPcapWithChooser(this, view->TrafficList().Model().Store(),
                            QDir::homePath() + QStringLiteral("/Capture.pcap"));
}

void CMainFrame::OnPortSetup() {
    auto* view = dynamic_cast<CKelvmonView*>(GetActiveView());
    auto* doc = dynamic_cast<CKelvmonDoc*>(GetActiveDocument());
    if (view == nullptr || doc == nullptr)
        return;
    CPortSetup dialog(this);
    // Closed first, so that the dialog finds the port free.
    if (view->IsPortOpen())
        view->ClosePort();
    dialog.m_nPort = doc->m_ActiveComPort;
    dialog.m_nBitRateIndex = doc->m_BitRate;
    if (dialog.DoModal() == platform::IdOk) {
        doc->m_ActiveComPort = dialog.m_nPort;
        doc->m_BitRate = dialog.m_nBitRateIndex;
    }
    view->OpenPort();
}

void CMainFrame::OnAppAbout() {
    CAboutDlg about(this);
    about.DoModal();
}
