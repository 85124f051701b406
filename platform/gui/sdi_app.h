#pragma once
// The start-up and the document switching of a single-document program: one document, one
// main frame and one form view, created in that order.
//
//   QApplication qt(argc, argv);
//   platform::SingleDocApp app("kelvload",
//       {[] { return std::make_unique<CKelvloadDoc>(); },
//        [] { return new CMainFrame; },
//        [] { return new CKelvloadView; }});
//   if (!app.ProcessShellCommand(qt.arguments().mid(1))) return 1;
//   return qt.exec();
//
// ProcessShellCommand: creates the three, puts the view in the frame, then, with a file
// argument, the document's OnOpenDocument(path), else OnNewDocument(); then the view's
// OnInitialUpdate and the frame's ActivateFrame(showCommand). Closing the frame ends the
// program.

#include "platform/gui/document.h"
#include "platform/gui/form_view.h"
#include "platform/gui/main_frame.h"
#include "platform/gui/settings_store.h"
#include "platform/gui/window_placement.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace platform {

class SingleDocApp {
public:
    struct Factory {
        std::function<std::unique_ptr<Document>()> document;
        std::function<MainFrame*()> frame;
        std::function<FormView*()> view;
    };

    SingleDocApp(const QString& application, Factory factory);
    ~SingleDocApp();
    SingleDocApp(const SingleDocApp&) = delete;
    SingleDocApp& operator=(const SingleDocApp&) = delete;

    bool ProcessShellCommand(const QStringList& arguments);
    // Opens a file as the document (dropped files, the open command): the document's
    // OnOpenDocument, then the view's OnInitialUpdate. False when the document refused.
    bool OpenDocumentFile(const QString& path);

    int showCommand = SwShowNormal; // the show command the frame is activated with

    QString Application() const { return application_; }
    SettingsStore& Profile() { return profile_; }
    Document* GetDocument() const { return document_.get(); }
    MainFrame* GetMainFrame() const { return frame_; }
    FormView* GetView() const { return view_; }

private:
    QString application_;
    Factory factory_;
    SettingsStore profile_;
    std::unique_ptr<Document> document_;
    QPointer<MainFrame> frame_;
    QPointer<FormView> view_;
};

} // namespace platform
