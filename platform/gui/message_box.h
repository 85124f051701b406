#pragma once
// The message box, and the answer codes shared with dialogs.
//
//   platform::MessageBox(this, "Could Not Open capture File"); // OK button only
//
// Tests answer boxes without showing them with SetMessageBoxResponder.

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace platform {

enum DialogResult : int { IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };

enum MessageBoxType : std::uint32_t {
    MbOk = 0x00,
    MbOkCancel = 0x01,
    MbYesNo = 0x04,
    MbIconError = 0x10,
    MbIconWarning = 0x30,
    MbIconInformation = 0x40,
};

// Shows `text` with the buttons of `type` and returns the button chosen. An empty caption
// shows the application's name.
int MessageBox(QWidget* parent, const QString& text, const QString& caption = {},
               std::uint32_t type = MbOk);

using MessageBoxResponder =
    std::function<int(const QString& text, const QString& caption, std::uint32_t type)>;
// While set, MessageBox calls the responder instead of showing a box. Empty: boxes again.
void SetMessageBoxResponder(MessageBoxResponder responder);

} // namespace platform
