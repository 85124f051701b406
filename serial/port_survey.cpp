#include "serial/port_survey.h"

#include <QThreadPool>
#include <mutex>

namespace serial {
namespace {

std::mutex hookMutex;
std::function<void()> workerHook;

PortSurvey::Result Survey(const std::vector<std::string>& names) {
    if (std::function<void()> hook = [] {
            std::lock_guard lock(hookMutex);
            return workerHook;
        }()) {
        hook();
    }
    const std::vector<PortProbe> probes = ProbePorts(names);
    PortSurvey::Result result(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        result[i].name = names[i];
        result[i].probe = probes[i];
        if (probes[i].state != PortNotPresent) {
            result[i].info = DescribePort(names[i]);
        }
    }
    return result;
}

} // namespace

// What the worker and the owner share; the owner may be gone before the worker ends.
struct PortSurvey::Shared {
    std::mutex mutex;
    PortSurvey* owner = nullptr; // cleared when the owner goes
    bool running = false;        // a worker is at work
    unsigned generation = 0;     // of the newest survey asked for
    std::vector<std::string> names;
};

PortSurvey::PortSurvey(std::function<void(const Result&)> done)
    : done_(std::move(done)), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
}

PortSurvey::~PortSurvey() {
    std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr; // a running worker finds no one to tell and ends
}

void PortSurvey::SetWorkerHookForTests(std::function<void()> hook) {
    std::lock_guard lock(hookMutex);
    workerHook = std::move(hook);
}

bool PortSurvey::Pending() const {
    return delivered_ != asked_;
}

void PortSurvey::Start(std::vector<std::string> names) {
    std::lock_guard lock(shared_->mutex);
    shared_->generation = ++asked_;
    shared_->names = std::move(names);
    if (shared_->running) {
        return; // the running worker sees the newer request when it ends and surveys again
    }
    shared_->running = true;
    QThreadPool::globalInstance()->start([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        while (shared->owner != nullptr) {
            const unsigned generation = shared->generation;
            const std::vector<std::string> names = shared->names;
            lock.unlock();
            const Result result = Survey(names);
            lock.lock();
            if (shared->owner == nullptr || generation != shared->generation) {
                continue; // gone, or superseded: survey the newest names
            }
            // Posted under the lock, so the owner (and its receiver) cannot go meanwhile.
            PortSurvey* owner = shared->owner;
            QMetaObject::invokeMethod(
                &owner->receiver_,
                [owner, generation, result] { owner->Deliver(generation, result); },
                Qt::QueuedConnection);
            break;
        }
        shared->running = false;
    });
}

void PortSurvey::Deliver(unsigned generation, const Result& result) {
    if (generation != asked_) {
        return; // a newer survey is under way
    }
    delivered_ = generation;
    if (done_) {
        done_(result);
    }
}

} // namespace serial
