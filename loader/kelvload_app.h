#pragma once
// CKelvloadApp: starts the loader. It builds the document, the main frame and the main view,
// roots the settings at the maker's key and shows the main window.

#include "platform/gui/sdi_app.h"

#include <QStringList>
#include <memory>

class CKelvloadAppDoc;
class CKelvloadView;
class CMainFrame;

class CKelvloadApp {
public:
    CKelvloadApp();
    ~CKelvloadApp();
    CKelvloadApp(const CKelvloadApp&) = delete;
    CKelvloadApp& operator=(const CKelvloadApp&) = delete;

    // `arguments` follow the program name: a KFW file to select, and a port name "COMn" to
    // use, both optional and in any order. False ends the program at once.
    bool InitInstance(const QStringList& arguments);
    // The Help menu's About command: the about box, modal.
    void OnAppAbout();

    CKelvloadAppDoc* GetDocument() const;
    CMainFrame* GetMainFrame() const;
    CKelvloadView* GetView() const;

private:
    std::unique_ptr<platform::SingleDocApp> m_app;
};
