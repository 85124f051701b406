#include "platform/gui/main_frame.h"

#include "platform/gui/document.h"
#include "platform/gui/form_view.h"
#include "platform/gui/string_table.h"
#include "platform/gui/window_placement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStatusBar>

namespace platform {

MainFrame::MainFrame(QWidget* parent) : QMainWindow(parent) {
    messagePane_ = new QLabel(LoadString(IdsIdleMessage), this);
    statusBar()->addWidget(messagePane_, 1);
    // A new frame starts large, as a fresh top-level window does; the view shrinks it to fit.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        resize(screen->availableGeometry().size() * 3 / 4);
    }
}

MainFrame::~MainFrame() = default;

void MainFrame::SetView(FormView* view) {
    view_ = view;
    setCentralWidget(view);
}

Document* MainFrame::GetActiveDocument() const {
    return view_ != nullptr ? view_->GetDocument() : nullptr;
}

void MainFrame::RecalcLayout() {
    if (layout() != nullptr) {
        layout()->activate();
    }
}

void MainFrame::ActivateFrame(int showCommand) {
    if (showCommand < 0) {
        if (!isVisible()) {
            show();
        }
    } else {
        ShowWindow(*this, showCommand);
    }
    raise();
    activateWindow();
}

bool MainFrame::OnClose() {
    if (Document* document = GetActiveDocument()) {
        document->OnCloseDocument();
    }
    return true;
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (OnClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace platform
