#pragma once
// CKelvmonApp: the monitor's start-up. It makes the one document, frame and view, opens a file
// named on the command line (or dropped on the window) as the document, and shows the window.

#include "platform/gui/sdi_app.h"

#include <QStringList>
#include <memory>

class CKelvmonDoc;
class CKelvmonView;
class CMainFrame;

class CKelvmonApp {
public:
    CKelvmonApp();
    ~CKelvmonApp();

    // `arguments` without the program name. False when start-up failed.
    bool InitInstance(const QStringList& arguments);
    // Opens a file as the document: it is remembered, the settings are read again and the port
    // is reopened; the file itself is not touched.
    bool OpenDocumentFile(const QString& path);
    // The standard new-document command.
    void OnFileNew();

    CKelvmonDoc* Document() const;
    CMainFrame* Frame() const;
    CKelvmonView* View() const;
    platform::SingleDocApp& Sdi() { return *m_app; }

private:
    std::unique_ptr<platform::SingleDocApp> m_app;
};

// Adds the monitor's texts to the string table.
void AddKelvmonStrings();
