#include "loader/kelvload_app.h"

#include "loader/about_dlg.h"
#include "loader/discover_dlg.h"
#include "loader/kelvload_app_doc.h"
#include "loader/kelvload_frame.h"
#include "loader/kelvload_resources.h"
#include "loader/kelvload_view.h"

#include <QApplication>
#include <cstdio>

CKelvloadApp::CKelvloadApp() = default;

CKelvloadApp::~CKelvloadApp() {
    m_app.reset(); // frame and view, then any discovery window, then the document
    CDiscoverDlg::m_pDoc = nullptr;
}

bool CKelvloadApp::InitInstance(const QStringList& arguments) {
    if (m_app) {
        return false;
    }
    kelvload::AddKelvloadStrings();
    QApplication::setWindowIcon(kelvload::ProgramIcon());

    QStringList opened = arguments;
    if (opened.size() > 1) {
        // One document only: the first name is opened, the rest is said and left alone.
        QStringList ignored;
        for (const QString& extra : opened.mid(1)) {
            ignored << QLatin1Char('"') + extra + QLatin1Char('"');
        }
        std::fprintf(stderr, "kelvload: ignored extra command-line arguments: %s\n",
                     ignored.join(QLatin1Char(' ')).toLocal8Bit().constData());
        opened = opened.mid(0, 1);
    }

    m_app = std::make_unique<platform::SingleDocApp>(
        QString::fromLatin1(kelvload::AppTitle),
        platform::SingleDocApp::Factory{[] { return std::make_unique<CKelvloadAppDoc>(); },
                                        [this] { return new CMainFrame([this] { OnAppAbout(); }); },
                                        [] { return new CKelvloadView; }});
    m_app->showCommand = platform::SwShowNormal;
    return m_app->ProcessShellCommand(opened);
}

void CKelvloadApp::OnAppAbout() {
    CAboutDlg about(GetMainFrame());
    about.DoModal();
}

CKelvloadAppDoc* CKelvloadApp::GetDocument() const {
    return m_app ? dynamic_cast<CKelvloadAppDoc*>(m_app->GetDocument()) : nullptr;
}

CMainFrame* CKelvloadApp::GetMainFrame() const {
    return m_app ? dynamic_cast<CMainFrame*>(m_app->GetMainFrame()) : nullptr;
}

CKelvloadView* CKelvloadApp::GetView() const {
    return m_app ? dynamic_cast<CKelvloadView*>(m_app->GetView()) : nullptr;
}
