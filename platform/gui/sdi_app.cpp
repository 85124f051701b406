#include "platform/gui/sdi_app.h"

#include "platform/gui/dialog.h"

#include <QApplication>

namespace platform {

SingleDocApp::SingleDocApp(const QString& application, Factory factory)
    : application_(application), factory_(std::move(factory)), profile_(application) {
    QCoreApplication::setOrganizationName(QLatin1String(CompanyKey));
    QCoreApplication::setApplicationName(application);
}

SingleDocApp::~SingleDocApp() {
    delete frame_.data(); // the view goes with it, while the document still stands
    // Modeless dialogs are top-level windows of their own; they end with the program.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (dynamic_cast<Dialog*>(window) != nullptr) {
            delete window;
        }
    }
    document_.reset();
}

bool SingleDocApp::ProcessShellCommand(const QStringList& arguments) {
    if (document_ != nullptr) {
        return false; // one document, one frame, one view per program
    }
    document_ = factory_.document();
    MainFrame* frame = factory_.frame();
    FormView* view = factory_.view();
    if (document_ == nullptr || frame == nullptr || view == nullptr) {
        delete view;
        delete frame;
        return false;
    }
    frame_ = frame;
    view_ = view;
    frame->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(frame, &QObject::destroyed, QCoreApplication::instance(),
                     &QCoreApplication::quit);
    view->SetDocument(document_.get());
    frame->SetView(view);

    const bool ready = arguments.isEmpty() ? document_->OnNewDocument()
                                           : document_->OnOpenDocument(arguments.front());
    if (!ready) {
        return false;
    }
    view->OnInitialUpdate();
    frame->ActivateFrame(showCommand);
    return true;
}

bool SingleDocApp::OpenDocumentFile(const QString& path) {
    if (document_ == nullptr || view_ == nullptr || !document_->OnOpenDocument(path)) {
        return false;
    }
    view_->OnInitialUpdate();
    return true;
}

} // namespace platform
