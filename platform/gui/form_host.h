#pragma once
// What every window built from a dialog template offers: its controls by identifier, data
// exchange, command handlers and timers. FormView and Dialog derive from it next to their Qt
// base; program classes override DoDataExchange and OnTimer.

#include "platform/gui/data_exchange.h"
#include "platform/gui/form.h"
#include "platform/gui/window_timers.h"

#include <functional>

namespace platform {

class FormHost {
public:
    QWidget* GetDlgItem(int id) const { return form_.Item(id); }
    template <class T> T* Item(int id) const { return dynamic_cast<T*>(form_.Item(id)); }

    // save = true reads the controls into the members, false shows the members in the controls.
    // False when the exchange failed.
    bool UpdateData(bool save = true);

    void OnCommand(int id, Notify code, std::function<void()> handler) {
        form_.OnCommand(id, code, std::move(handler));
    }

    // Timer `id` calls OnTimer(id) every periodMs. SetTimer returns id, or 0 on failure.
    unsigned SetTimer(unsigned id, unsigned periodMs) { return timers_.Set(id, periodMs); }
    bool KillTimer(unsigned id) { return timers_.Kill(id); }

    Form& GetForm() { return form_; }
    const Form& GetForm() const { return form_; }

protected:
    explicit FormHost(QWidget& surface);
    virtual ~FormHost();
    FormHost(const FormHost&) = delete;
    FormHost& operator=(const FormHost&) = delete;

    virtual void DoDataExchange(DataExchange& dx);
    virtual void OnTimer(unsigned id);

private:
    Form form_;
    WindowTimers timers_;
};

} // namespace platform
