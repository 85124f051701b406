#pragma once
// Controls that must set themselves up when they are bound to a form's control (or created in
// place) implement this; the form calls OnAttach once the control stands in the form.

namespace platform {

class AttachHook {
public:
    virtual void OnAttach() = 0;

protected:
    ~AttachHook() = default;
};

} // namespace platform
