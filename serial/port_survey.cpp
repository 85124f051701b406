#include "serial/port_survey.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <mutex>
#include <thread>

namespace serial {
namespace {

std::mutex hookMutex;
std::function<void()> workerHook;
std::atomic<int> runningWorkers{0};
// Released after each result event is made and acquired before one is read, so that thread
// checkers see the hand-over that Qt's event queue makes.
std::atomic<unsigned> resultEvents{0};

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

QEvent::Type ResultEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Told by a plain event that a result waits; the result itself goes through the shared state.
class ResultReceiver : public QObject {
public:
    explicit ResultReceiver(std::function<void()> arrived) : arrived_(std::move(arrived)) {}
    bool event(QEvent* event) override {
        resultEvents.load(std::memory_order_acquire);
        if (event->type() != ResultEventType()) {
            return QObject::event(event);
        }
        arrived_();
        return true;
    }

private:
    std::function<void()> arrived_;
};

} // namespace

// What the worker and the owner share; the owner may be gone before the worker ends.
struct PortSurvey::Shared {
    std::mutex mutex;
    QObject* receiver = nullptr; // cleared when the owner goes
    bool running = false;        // a worker is at work
    unsigned generation = 0;     // of the newest survey asked for
    std::vector<std::string> names;
    unsigned resultGeneration = 0;
    Result result;
};

PortSurvey::PortSurvey(std::function<void(const Result&)> done)
    : done_(std::move(done)), receiver_(std::make_unique<ResultReceiver>([this] { Deliver(); })),
      shared_(std::make_shared<Shared>()) {
    shared_->receiver = receiver_.get();
}

PortSurvey::~PortSurvey() {
    std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr; // a running worker finds no one to tell and ends
}

bool PortSurvey::WaitForWorkers(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (runningWorkers.load() != 0) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
    ++runningWorkers;
    // Not joined: an owner that goes does not wait for the probe under way.
    std::thread([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        while (shared->receiver != nullptr) {
            const unsigned generation = shared->generation;
            const std::vector<std::string> names = shared->names;
            lock.unlock();
            Result result = Survey(names);
            lock.lock();
            if (shared->receiver == nullptr || generation != shared->generation) {
                continue; // gone, or superseded: survey the newest names
            }
            shared->result = std::move(result);
            shared->resultGeneration = generation;
            // Posted under the lock, so the receiver cannot go meanwhile; one that goes later
            // takes the event with it.
            auto* arrived = new QEvent(ResultEventType());
            resultEvents.fetch_add(1, std::memory_order_release);
            QCoreApplication::postEvent(shared->receiver, arrived);
            break;
        }
        shared->running = false;
        lock.unlock();
        --runningWorkers;
    }).detach();
}

void PortSurvey::Deliver() {
    Result result;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->resultGeneration != asked_) {
            return; // a newer survey is under way
        }
        result = std::move(shared_->result);
        shared_->resultGeneration = 0;
    }
    delivered_ = asked_;
    if (done_) {
        done_(result);
    }
}

} // namespace serial
