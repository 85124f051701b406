#include "platform/core/window_message.h"

#include <QCoreApplication>
#include <QEvent>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace platform {
namespace {

constexpr std::uint32_t FirstRegisteredMessage = 0xC000;
constexpr std::uint32_t LastRegisteredMessage = 0xFFFF;

struct MessageNames {
    std::mutex mutex;
    std::map<std::string, std::uint32_t, std::less<>> numbers;
};

MessageNames& Names() {
    static MessageNames names;
    return names;
}

// Live receivers by handle. PostMessage posts while holding the mutex, so that a receiver
// cannot be destroyed between the look-up and the post; ~QObject then discards its events.
struct ReceiverRegistry {
    std::mutex mutex;
    std::uint64_t lastId = 0;
    std::unordered_map<std::uint64_t, WindowMessageReceiver*> receivers;
};

ReceiverRegistry& Registry() {
    static ReceiverRegistry registry;
    return registry;
}

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Messages are made on the posting thread and handled or dropped on the receiver's. QtCore's
// queue between them is locked with primitives that a thread checker cannot see, so the
// hand-over is stated here as well: every post counts up with release order, and the receiving
// side reads the count with acquire order before it touches a message.
std::atomic<std::uint64_t>& PostCount() {
    static std::atomic<std::uint64_t> count{0};
    return count;
}

void AcquirePostedMessages() {
    PostCount().load(std::memory_order_acquire);
}

class WindowMessageEvent : public QEvent {
public:
    WindowMessageEvent(std::uint32_t message, WParam wParam, LParam lParam)
        : QEvent(MessageEventType()), message(message), wParam(wParam), lParam(lParam) {}
    ~WindowMessageEvent() override { AcquirePostedMessages(); } // may be dropped unhandled
    const std::uint32_t message;
    const WParam wParam;
    const LParam lParam;
};

} // namespace

std::uint32_t RegisterWindowMessage(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    MessageNames& names = Names();
    std::lock_guard lock(names.mutex);
    if (auto found = names.numbers.find(name); found != names.numbers.end()) {
        return found->second;
    }
    const std::uint32_t number = FirstRegisteredMessage + names.numbers.size();
    if (number > LastRegisteredMessage) {
        return 0;
    }
    names.numbers.emplace(std::string(name), number);
    return number;
}

bool PostMessage(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam) {
    if (window.IsNull()) {
        return false;
    }
    ReceiverRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.receivers.find(window.Id());
    if (found == registry.receivers.end()) {
        return false;
    }
    auto* event = new WindowMessageEvent(message, wParam, lParam);
    PostCount().fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(found->second, event);
    return true;
}

WindowMessageReceiver::WindowMessageReceiver(QObject* parent) : QObject(parent) {
    ReceiverRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    handle_ = WindowHandle(++registry.lastId);
    registry.receivers.emplace(handle_.Id(), this);
}

WindowMessageReceiver::~WindowMessageReceiver() {
    ReceiverRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.receivers.erase(handle_.Id());
}

void WindowMessageReceiver::MapMessage(std::uint32_t message, Handler handler) {
    handlers_[message] = std::move(handler);
}

bool WindowMessageReceiver::event(QEvent* event) {
    AcquirePostedMessages();
    if (event->type() != MessageEventType()) {
        return QObject::event(event);
    }
    const auto* posted = static_cast<const WindowMessageEvent*>(event);
    auto found = handlers_.find(posted->message);
    if (found != handlers_.end()) {
        Handler handler = found->second; // the handler may remap messages while it runs
        handler(posted->wParam, posted->lParam);
    }
    return true;
}

} // namespace platform
