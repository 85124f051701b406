#pragma once
// CResizableFormView: a form view whose anchored controls follow the window's size.
//
//   class CKelvmonView : public CResizableFormView {
//       void OnInitialUpdate() override {
//           if (first) AnchorControl(1002, AnchorTopLeft, AnchorBottomRight); ...
//           CResizableFormView::OnInitialUpdate(); // form update, then layoutReady, then layout
//       }
//   };
//
// Before the first initial update the anchors are measured against the designed form size and
// size changes move nothing; afterwards the layout rectangle is the client area, but never
// narrower or lower than the designed form (the view scrolls instead).

#include "controls/resizable_layout.h"
#include "platform/gui/form_view.h"

class CResizableFormView : public platform::FormView, public CResizableLayout {
public:
    explicit CResizableFormView(const platform::DialogTemplate& form, QWidget* parent = nullptr);
    ~CResizableFormView() override;

    using CResizableLayout::AnchorControl;
    // Anchors the form's control `id` (an entry without a window when there is none).
    void AnchorControl(int id, Anchor topLeft, Anchor bottomRight = AnchorNone);

    void OnInitialUpdate() override;

    QRect GetLayoutRect() const override;
    QWidget* GetLayoutWindow() const override { return Surface(); }

    bool layoutReady = false;

protected:
    void OnSize(QSize size) override;
    void EraseBackground(QPainter& painter, const QRegion& region) override;
};
