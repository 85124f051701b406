#include "loader/kelvload_app.h"

#include "loader/about_dlg.h"
#include "loader/discover_dlg.h"
#include "loader/kelvload_app_doc.h"
#include "loader/kelvload_frame.h"
#include "loader/kelvload_resources.h"
#include "loader/kelvload_view.h"

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

    if (arguments.size() > 1) {
        return false; // one document only
    }

    m_app = std::make_unique<platform::SingleDocApp>(
        QString::fromLatin1(kelvload::AppTitle),
        platform::SingleDocApp::Factory{[] { return std::make_unique<CKelvloadAppDoc>(); },
                                        [this] { return new CMainFrame([this] { OnAppAbout(); }); },
                                        [] { return new CKelvloadView; }});
    m_app->showCommand = platform::SwShowNormal;
    return m_app->ProcessShellCommand(arguments);
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
