#include "monitor/kelvmon_app.h"

#include "monitor/about_dlg.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/kelvmon_view.h"
#include "monitor/main_frame.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/file_drop.h"
#include "platform/gui/string_table.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeySequence>

using namespace kelvmon;

void AddKelvmonStrings() {
    platform::AddStrings(
        {{IdsAppName, QStringLiteral("kelvmon")}, {IdsVersion, KelvmonVersionText()}});
}

CKelvmonApp::CKelvmonApp() = default;

CKelvmonApp::~CKelvmonApp() = default;

bool CKelvmonApp::InitInstance(const QStringList& arguments) {
    AddKelvmonStrings();
    m_app = std::make_unique<platform::SingleDocApp>(
        platform::LoadString(IdsAppName),
        platform::SingleDocApp::Factory{[] { return std::make_unique<CKelvmonDoc>(); },
                                        [] { return new CMainFrame; },
                                        [] { return new CKelvmonView; }});
    if (!m_app->ProcessShellCommand(arguments))
        return false;
    CMainFrame* frame = Frame();
    // The document's standard commands: the document has no content, so none of them writes
    // the file that its path names.
    auto* open = new QAction(frame);
    open->setShortcut(QKeySequence::Open);
    QObject::connect(open, &QAction::triggered, frame, [this, frame] {
        platform::FileChooserRequest request;
        request.title = QStringLiteral("Open");
        request.filter = QStringLiteral("Flash Files (*.hex,*.bin)|*.hex;*.bin||");
        request.initialFile = g_ProjectFilePath;
        request.flags = platform::OfnFileMustExist | platform::OfnPathMustExist;
        if (auto path = platform::ChooseFile(frame, request))
            OpenDocumentFile(*path);
    });
    auto* create = new QAction(frame);
    create->setShortcut(QKeySequence::New);
    QObject::connect(create, &QAction::triggered, frame, [this] { OnFileNew(); });
    auto* save = new QAction(frame);
    save->setShortcut(QKeySequence::Save);
    QObject::connect(save, &QAction::triggered, frame,
                     [this] { Document()->SetModifiedFlag(false); });
    frame->addActions({open, create, save});

    platform::DragAcceptFiles(*frame, [this](const QStringList& paths) {
        if (!paths.isEmpty())
            OpenDocumentFile(paths.front());
    });
    // Marks the main window as this program's.
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!executable.isEmpty())
        frame->setProperty(executable.toUtf8().constData(), 1);
    return true;
}

bool CKelvmonApp::OpenDocumentFile(const QString& path) {
    return m_app != nullptr && m_app->OpenDocumentFile(path);
}

void CKelvmonApp::OnFileNew() {
    if (Document() != nullptr && Document()->OnNewDocument())
        View()->OnInitialUpdate();
}

CKelvmonDoc* CKelvmonApp::Document() const {
    return m_app ? static_cast<CKelvmonDoc*>(m_app->GetDocument()) : nullptr;
}

CMainFrame* CKelvmonApp::Frame() const {
    return m_app ? static_cast<CMainFrame*>(m_app->GetMainFrame()) : nullptr;
}

CKelvmonView* CKelvmonApp::View() const {
    return m_app ? static_cast<CKelvmonView*>(m_app->GetView()) : nullptr;
}
