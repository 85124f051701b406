#include "platform/gui/dialog.h"

#include <QMetaObject>

namespace platform {

Dialog::Dialog(const DialogTemplate& form, QWidget* parent)
    : QDialog(parent), FormHost(static_cast<QWidget&>(*this)) {
    GetForm().Create(form);
    setWindowTitle(form.caption);
    setFixedSize(GetForm().DesignedSize());
    OnCommand(IdOk, Notify::Clicked, [this] { OnOK(); });
    OnCommand(IdCancel, Notify::Clicked, [this] { OnCancel(); });
}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
    modeless_ = false;
    OnInitDialog();
    return exec();
}

bool Dialog::Create() {
    modeless_ = true;
    OnInitDialog();
    show();
    return true;
}

void Dialog::EndDialog(int result) {
    if (modeless_) {
        DestroyWindow();
    } else {
        done(result);
    }
}

void Dialog::DestroyWindow() {
    if (destroying_) {
        return;
    }
    destroying_ = true;
    hide();
    // From the event loop, so that PostNcDestroy may delete the dialog.
    QMetaObject::invokeMethod(
        this, [this] { PostNcDestroy(); }, Qt::QueuedConnection);
}

bool Dialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void Dialog::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    EndDialog(IdOk);
}

void Dialog::OnCancel() {
    EndDialog(IdCancel);
}

void Dialog::PostNcDestroy() {}

void Dialog::accept() {
    OnOK();
}

void Dialog::reject() {
    OnCancel();
}

} // namespace platform
