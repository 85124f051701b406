#include "platform/gui/form_view.h"

#include "platform/gui/key_pretranslate.h"

#include <QKeyEvent>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace platform {

// The form's client area: paints the background through the view and reports its size.
class FormView::SurfaceWidget : public QWidget {
public:
    FormView* view = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override {
        if (view != nullptr) {
            QPainter painter(this);
            view->EraseBackground(painter, event->region());
        }
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (view != nullptr) {
            view->OnSize(event->size());
        }
    }
};

QWidget& FormView::NewSurface() {
    return *new SurfaceWidget();
}

FormView::FormView(const DialogTemplate& form, QWidget* parent)
    : QScrollArea(parent), FormHost(NewSurface()), surface_(&GetForm().Surface()) {
    GetForm().Create(form);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setWidget(surface_);
    surface_->setAutoFillBackground(false);
    surface_->setMinimumSize(DesignedSize());
    resize(DesignedSize());
    static_cast<SurfaceWidget*>(surface_)->view = this;
    keys_ = std::make_unique<KeyPreTranslator>(
        *this, [this](QKeyEvent& key) { return PreTranslateMessage(key); });
}

FormView::~FormView() {
    static_cast<SurfaceWidget*>(surface_)->view = nullptr;
}

void FormView::OnInitialUpdate() {
    UpdateData(false);
}

void FormView::ResizeParentToFit(bool shrinkOnly) {
    QWidget* frame = window();
    if (frame == this) {
        return;
    }
    if (frame->layout() != nullptr) {
        frame->layout()->activate();
    }
    // The view's own size is its client without scroll bars (it has no frame).
    const QSize client = size();
    const QSize form = DesignedSize();
    int dx = form.width() - client.width();
    int dy = form.height() - client.height();
    if (shrinkOnly) {
        dx = qMin(dx, 0);
        dy = qMin(dy, 0);
    }
    if (dx != 0 || dy != 0) {
        frame->resize(frame->width() + dx, frame->height() + dy);
    }
}

bool FormView::PreTranslateMessage(QKeyEvent&) {
    return false;
}

void FormView::OnSize(QSize) {}

void FormView::EraseBackground(QPainter& painter, const QRegion& region) {
    for (const QRect& rect : region) {
        painter.fillRect(rect, palette().window());
    }
}

} // namespace platform
