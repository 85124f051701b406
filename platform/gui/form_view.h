#pragma once
// A view built from a dialog template: the main window's client, with scroll bars when the
// window is smaller than the designed form.
//
//   class CMyView : public platform::FormView {
//   public:
//       CMyView() : FormView(kMainForm) {
//           OnCommand(1003, platform::Notify::Clicked, [this] { OnSelectFile(); });
//           MapMessage(serialMessage, [this](platform::WParam w, platform::LParam l) { ... });
//       }
//       void OnInitialUpdate() override { FormView::OnInitialUpdate(); ResizeParentToFit(); ... }
//   protected:
//       void DoDataExchange(platform::DataExchange& dx) override;
//       void OnTimer(unsigned id) override;
//       bool PreTranslateMessage(QKeyEvent& key) override; // true consumes the key
//   };
//
// Serial notifications: pass MessageWindow() as the window of CSerialMFC::OpenForWindow. The
// receiver is a member of this base, so it outlives the derived view's port and its thread.

#include "platform/core/window_message.h"
#include "platform/gui/form_host.h"

#include <QScrollArea>
#include <memory>

class QKeyEvent;
class QPainter;
class QRegion;

namespace platform {

class Document;
class KeyPreTranslator;

class FormView : public QScrollArea, public FormHost {
public:
    explicit FormView(const DialogTemplate& form, QWidget* parent = nullptr);
    ~FormView() override;

    Document* GetDocument() const { return document_; }
    void SetDocument(Document* document) { document_ = document; }

    // The first update after creation (and after each document open): shows the members in
    // the controls. Overrides call this first.
    virtual void OnInitialUpdate();

    // Resizes the window holding the view so that the view's client is the designed form size
    // (with shrinkOnly, only dimensions larger than the form are reduced).
    void ResizeParentToFit(bool shrinkOnly = true);

    QSize DesignedSize() const { return GetForm().DesignedSize(); }
    // The widget the controls stand on; its rectangle is the form's client area.
    QWidget* Surface() const { return surface_; }

    WindowMessageReceiver* MessageWindow() { return &messages_; }
    void MapMessage(std::uint32_t message, WindowMessageReceiver::Handler handler) {
        messages_.MapMessage(message, std::move(handler));
    }

protected:
    // Every key press meant for the view or a control in it comes here first; return true to
    // consume it before the control sees it.
    virtual bool PreTranslateMessage(QKeyEvent& key);
    // The surface's client size changed.
    virtual void OnSize(QSize size);
    // Paints the surface background in `region` (the default fills it with the window colour).
    virtual void EraseBackground(QPainter& painter, const QRegion& region);

private:
    class SurfaceWidget;
    static QWidget& NewSurface();

    WindowMessageReceiver messages_;
    QWidget* surface_;
    Document* document_ = nullptr;
    std::unique_ptr<KeyPreTranslator> keys_;
};

} // namespace platform
