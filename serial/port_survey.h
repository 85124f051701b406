#pragma once
// Probes a set of ports on a worker thread and hands the result to the thread that asked, so
// that a window never waits on /proc, sysfs or lock files. Only the newest survey's result is
// handed over: one asked for while another runs supersedes it. Destroying the survey neither
// waits for a running probe nor lets its result arrive.

#include "serial/port_info.h"
#include "serial/port_probe.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace serial {

struct SurveyedPort {
    std::string name; // as asked for
    PortProbe probe;
    PortInfo info; // described when the port is present
};

class PortSurvey {
public:
    using Result = std::vector<SurveyedPort>;
    // `done` runs on the creating thread's event loop with the newest survey's result.
    explicit PortSurvey(std::function<void(const Result&)> done);
    ~PortSurvey();
    PortSurvey(const PortSurvey&) = delete;
    PortSurvey& operator=(const PortSurvey&) = delete;

    // Surveys `names` (COM names or paths) in the background.
    void Start(std::vector<std::string> names);
    // A survey has been asked for and its result not yet handed over.
    bool Pending() const;

    // Waits until no worker is at work, also none of a survey gone, or `limit` has passed;
    // a program does so before it ends, as the workers read its static data.
    static bool WaitForWorkers(std::chrono::milliseconds limit);
    // Runs before each survey on the worker thread (tests hold a survey up with it).
    static void SetWorkerHookForTests(std::function<void()> hook);

private:
    struct Shared;
    void Deliver();

    std::function<void(const Result&)> done_;
    std::unique_ptr<QObject> receiver_; // lives on the asking thread; told of each result
    std::shared_ptr<Shared> shared_;
    unsigned asked_ = 0;
    unsigned delivered_ = 0;
};

} // namespace serial
