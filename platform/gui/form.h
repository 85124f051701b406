#pragma once
// The controls of one dialog template, created on a surface widget and found by identifier.
//
// A Form is the part that FormView and Dialog share; program code reaches it through them:
//
//   view.OnCommand(1003, platform::Notify::Clicked, [this] { OnSelectFile(); });
//   auto* ports = view.Item<QComboBox>(1006);
//
// Commands may be mapped at any time; they follow a control that is later replaced by Attach.

#include "platform/gui/dialog_template.h"

#include <QFont>
#include <QList>
#include <QSize>
#include <functional>
#include <map>
#include <memory>
#include <utility>

class QWidget;

namespace platform {

// Notifications of controls that handlers can be mapped to.
enum class Notify {
    Clicked,   // button, check box or radio button clicked
    SelChange, // the user changed a combo box's or list box's selection
    Change,    // the user changed an edit's text
    KillFocus, // an edit (or any control) lost the keyboard focus
};

class Form {
public:
    explicit Form(QWidget& surface);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // Creates the template's controls on the surface in template order (the tab order), sized
    // in dialog units of the template font, which the surface takes as its font.
    void Create(const DialogTemplate& form);

    QSize DesignedSize() const { return designedSize_; }
    QSize BaseUnits() const { return baseUnits_; }
    QWidget& Surface() const { return surface_; }

    // The control with the identifier, or null.
    QWidget* Item(int id) const;

    // Puts `control` in the place of control `id`: it takes over the geometry, text, class name,
    // style, identifier, visibility, enabled state and tab position, and the former control is
    // deleted (so do not attach from within one of its own handlers). Attaching the control
    // that already stands there changes nothing. False when the form has no control `id`.
    bool Attach(int id, QWidget& control);

    // Called with (former, replacement) whenever Attach replaces a control, so that holders of
    // the former pointer can follow.
    void SetReplaceObserver(std::function<void(QWidget*, QWidget*)> observer);

    void OnCommand(int id, Notify code, std::function<void()> handler);

    // The radio buttons of the group that starts with `firstId`, in template order.
    QList<QWidget*> RadioGroup(int firstId) const;

private:
    QWidget* CreateControl(const DialogItem& item);
    void Wire(int id, QWidget* control);
    void Dispatch(int id, Notify code);

    QWidget& surface_;
    QSize designedSize_;
    QSize baseUnits_;
    std::map<int, QWidget*> controls_;
    QList<int> order_;                // identifiers in template order
    std::map<int, int> radioGroupOf_; // radio id -> id of the first radio of its group
    std::map<std::pair<int, Notify>, std::function<void()>> handlers_;
    std::function<void(QWidget*, QWidget*)> replaceObserver_;
    struct Private;
    std::unique_ptr<Private> private_;
};

} // namespace platform
