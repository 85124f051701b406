#include "loader/kelvload_app.h"

#include "loader/about_dlg.h"
#include "loader/discover_dlg.h"
#include "loader/kelvload_app_doc.h"
#include "loader/kelvload_frame.h"
#include "loader/kelvload_resources.h"
#include "loader/kelvload_view.h"
#include "serial/port_names.h"

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

    int port = 0;
    QStringList files;
    for (const QString& argument : arguments) {
        const int number = serial::ComPortNumber(argument.toStdString());
        if (number > 0 && port == 0) {
            port = number;
        } else {
            files.append(argument);
        }
    }
    if (files.size() > 1) {
        return false; // one document only
    }

    m_app = std::make_unique<platform::SingleDocApp>(
        QString::fromLatin1(kelvload::AppTitle),
        platform::SingleDocApp::Factory{[port] {
                                            auto doc = std::make_unique<CKelvloadAppDoc>();
                                            if (port > 0) {
                                                doc->m_commandLinePort = port;
                                            }
                                            return doc;
                                        },
                                        [this] { return new CMainFrame([this] { OnAppAbout(); }); },
                                        [] { return new CKelvloadView; }});
    m_app->showCommand = platform::SwShowNormal;
    return m_app->ProcessShellCommand(files);
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
