#pragma once
// A dialog built from a dialog template, modal or modeless.
//
// Buttons 1 (OK) and 2 (Cancel) call OnOK and OnCancel; so do Enter on the default button and
// Escape or the close box (OnCancel).
//
//   CPortSetup dlg(frame);
//   if (dlg.DoModal() == platform::IdOk) ...
//
//   auto* dlg = new CDiscoverDlg; // modeless, top level
//   dlg->Create();                // OnInitDialog, then shown
//   // OnCancel -> DestroyWindow(): hidden, then PostNcDestroy from the event loop, where the
//   // dialog may `delete this`.

#include "platform/gui/form_host.h"
#include "platform/gui/message_box.h"

#include <QDialog>

namespace platform {

class Dialog : public QDialog, public FormHost {
public:
    explicit Dialog(const DialogTemplate& form, QWidget* parent = nullptr);
    ~Dialog() override;

    // Runs the dialog modally; returns the value given to EndDialog (IdOk, IdCancel, ...).
    int DoModal();
    // Creates the dialog modeless and shows it. False when OnInitDialog refused.
    bool Create();

    void EndDialog(int result);
    // Ends a modeless dialog: hides it and calls PostNcDestroy from the event loop.
    void DestroyWindow();
    bool IsModeless() const { return modeless_; }

protected:
    // Shows the members in the controls; return true to put the focus on the first control.
    virtual bool OnInitDialog();
    // Reads the controls and ends the dialog with IdOk (modal) or destroys it (modeless).
    virtual void OnOK();
    // Ends the dialog with IdCancel (modal) or destroys it (modeless).
    virtual void OnCancel();
    // A modeless dialog's window is gone; the default does nothing.
    virtual void PostNcDestroy();

    void accept() override;
    void reject() override;

private:
    bool modeless_ = false;
    bool destroying_ = false;
};

} // namespace platform
