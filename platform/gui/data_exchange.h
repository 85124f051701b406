#pragma once
// Exchange between a form's controls and the members of its owner, in one direction at a time.
// UpdateData(save) calls the owner's DoDataExchange with an exchange of that direction:
//
//   void CMyView::DoDataExchange(platform::DataExchange& dx) {
//       dx.Control(1000, m_clock);    // binds the member to the control once
//       dx.Text(1004, m_strPath);     // static, edit, button caption or combo box text
//       dx.Check(1016, m_UseTimeStamp);
//       dx.Radio(1009, m_DisplayModeGrp);
//   }

#include <QString>

class QWidget;

namespace platform {

class Form;

class DataExchange {
public:
    DataExchange(Form& form, bool save) : form_(form), save_(save) {}

    // True when the controls are read into the members, false when the members are shown.
    bool Saving() const { return save_; }

    void Text(int id, QString& value);
    void Check(int id, int& value);      // 0 or 1
    void Radio(int firstId, int& value); // index of the checked button in the group, -1: none
    // Binds `control` to the form's control `id` (see Form::Attach); a later call finds it bound.
    void Control(int id, QWidget& control);

    // Marks the exchange as failed; UpdateData then returns false.
    void Fail() { failed_ = true; }
    bool Failed() const { return failed_; }

private:
    QWidget* Find(int id);

    Form& form_;
    bool save_;
    bool failed_ = false;
};

// The text a control shows: a button's caption, a label's or an edit's text, a combo box's
// current text, a group box's title, else the window title.
QString GetWindowText(const QWidget* control);
void SetWindowText(QWidget* control, const QString& text);

} // namespace platform
