#include "platform/gui/form_host.h"

namespace platform {

FormHost::FormHost(QWidget& surface)
    : form_(surface), timers_([this](unsigned id) { OnTimer(id); }) {}

FormHost::~FormHost() = default;

bool FormHost::UpdateData(bool save) {
    DataExchange dx(form_, save);
    DoDataExchange(dx);
    return !dx.Failed();
}

void FormHost::DoDataExchange(DataExchange&) {}

void FormHost::OnTimer(unsigned) {}

} // namespace platform
