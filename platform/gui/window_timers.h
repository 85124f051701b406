#pragma once
// Periodic timers by identifier for one window, each tick calling the window's handler with
// the identifier:
//
//   platform::WindowTimers timers([this](unsigned id) { OnTimer(id); });
//   timers.Set(25, 1000); // returns 25
//   timers.Kill(25);

#include <QObject>
#include <functional>
#include <map>

namespace platform {

class WindowTimers : public QObject {
public:
    using Handler = std::function<void(unsigned id)>;

    explicit WindowTimers(Handler handler);
    ~WindowTimers() override;

    // Starts (or restarts with the new period) timer `id`. Returns `id`, or 0 when it could not
    // be started (identifier 0). Periods below 10 ms count as 10 ms.
    unsigned Set(unsigned id, unsigned periodMs);
    // Stops timer `id`; false when it was not running.
    bool Kill(unsigned id);
    bool IsRunning(unsigned id) const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    Handler handler_;
    std::map<unsigned, int> qtTimerOf_; // our identifier -> Qt's timer id
};

} // namespace platform
