#include "loader/kelvload_frame.h"

#include "loader/kelvload_ids.h"
#include "loader/kelvload_resources.h"
#include "loader/kelvload_view.h"
#include "platform/gui/string_table.h"
#include "platform/gui/window_class.h"

#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

CMainFrame::CMainFrame(std::function<void()> onAbout) : m_onAbout(std::move(onAbout)) {
    OnCreate();
}

int CMainFrame::OnCreate() {
    // Only Exit and About: the usual New and Open keys are left unbound.
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, [this] { close(); });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Kelvload..."), this, [this] {
        if (m_onAbout) {
            m_onAbout();
        }
    });

    QStatusBar* bar = statusBar();
    if (bar == nullptr) {
        return -1;
    }
    platform::SetControlId(bar, StatusBarId);
    bar->show();

    // The title stays as it is whatever file is chosen.
    setWindowTitle(QString::fromLatin1(kelvload::FrameTitlePrefix) +
                   platform::LoadString(kelvload::IdsVersion));
    return 0;
}

bool CMainFrame::OnClose() {
    if (auto* view = dynamic_cast<CKelvloadView*>(GetActiveView())) {
        view->StopRunAndWait();
    }
    return platform::MainFrame::OnClose();
}
