#include "platform/gui/message_box.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace platform {
namespace {

MessageBoxResponder& Responder() {
    static MessageBoxResponder responder;
    return responder;
}

QMessageBox::Icon IconOf(std::uint32_t type) {
    switch (type & 0xF0) {
    case MbIconError:
        return QMessageBox::Critical;
    case MbIconWarning:
        return QMessageBox::Warning;
    case MbIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int MessageBox(QWidget* parent, const QString& text, const QString& caption, std::uint32_t type) {
    const QString title = caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption;
    if (Responder()) {
        return Responder()(text, title, type);
    }
    QMessageBox box(IconOf(type), title, text, QMessageBox::NoButton, parent);
    switch (type & 0x0F) {
    case MbOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MbYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return IdCancel;
    case QMessageBox::Yes:
        return IdYes;
    case QMessageBox::No:
        return IdNo;
    case QMessageBox::Ok:
        return IdOk;
    default: // closed otherwise: the box's cancel answer
        return (type & 0x0F) == MbYesNo ? IdNo : ((type & 0x0F) == MbOk ? IdOk : IdCancel);
    }
}

void SetMessageBoxResponder(MessageBoxResponder responder) {
    Responder() = std::move(responder);
}

} // namespace platform
