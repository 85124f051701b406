#include "controls/resizable_form_view.h"

#include <QPainter>

CResizableFormView::CResizableFormView(const platform::DialogTemplate& form, QWidget* parent)
    : platform::FormView(form, parent) {
    // A control bound after it was anchored (DoDataExchange attaches in the first update) takes
    // over its anchors.
    GetForm().SetReplaceObserver(
        [this](QWidget* former, QWidget* replacement) { ReplaceWindow(former, replacement); });
}

CResizableFormView::~CResizableFormView() {
    GetForm().SetReplaceObserver(nullptr);
}

void CResizableFormView::AnchorControl(int id, Anchor topLeft, Anchor bottomRight) {
    CResizableLayout::AnchorControl(GetDlgItem(id), topLeft, bottomRight);
}

void CResizableFormView::OnInitialUpdate() {
    platform::FormView::OnInitialUpdate();
    layoutReady = true;
    ApplyLayout();
}

QRect CResizableFormView::GetLayoutRect() const {
    // The surface is the client area; it is never smaller than the designed form, which the
    // view scrolls instead.
    const QRect client = Surface()->rect();
    const QSize designed = DesignedSize();
    if (!layoutReady) {
        return QRect(client.topLeft(), designed);
    }
    QRect rect = client;
    if (rect.width() < designed.width()) {
        rect.setWidth(designed.width());
    }
    if (rect.height() < designed.height()) {
        rect.setHeight(designed.height());
    }
    return rect;
}

void CResizableFormView::OnSize(QSize size) {
    platform::FormView::OnSize(size);
    if (layoutReady) {
        ApplyLayout();
    }
}

void CResizableFormView::EraseBackground(QPainter& painter, const QRegion& region) {
    const QRegion clip = ClipControls(region) & region;
    platform::FormView::EraseBackground(painter, clip);
}
