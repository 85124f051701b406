#include "platform/gui/window_timers.h"

#include <QTimerEvent>
#include <algorithm>

namespace platform {

namespace {
constexpr unsigned kMinimumPeriodMs = 10;
}

WindowTimers::WindowTimers(Handler handler) : handler_(std::move(handler)) {}

WindowTimers::~WindowTimers() {
    for (const auto& [id, qtTimer] : qtTimerOf_) {
        killTimer(qtTimer);
    }
}

unsigned WindowTimers::Set(unsigned id, unsigned periodMs) {
    if (id == 0) {
        return 0;
    }
    Kill(id);
    const int qtTimer =
        startTimer(static_cast<int>(std::clamp(periodMs, kMinimumPeriodMs, 0x7FFFFFFFu)));
    if (qtTimer == 0) {
        return 0;
    }
    qtTimerOf_[id] = qtTimer;
    return id;
}

bool WindowTimers::Kill(unsigned id) {
    auto found = qtTimerOf_.find(id);
    if (found == qtTimerOf_.end()) {
        return false;
    }
    killTimer(found->second);
    qtTimerOf_.erase(found);
    return true;
}

bool WindowTimers::IsRunning(unsigned id) const {
    return qtTimerOf_.count(id) != 0;
}

void WindowTimers::timerEvent(QTimerEvent* event) {
    for (const auto& [id, qtTimer] : qtTimerOf_) {
        if (qtTimer == event->timerId()) {
            const unsigned tickId = id; // the handler may kill or restart timers
            handler_(tickId);
            return;
        }
    }
}

} // namespace platform
