#pragma once
// A shared_ptr that one thread may replace while others take copies of it.
//
// Used instead of std::atomic<std::shared_ptr>, whose implementation in the standard library
// that we build with releases its internal lock without ordering after a load, which a thread
// checker rightly reports as a race with the next store.

#include <memory>
#include <mutex>
#include <utility>

namespace serial {

template <typename T> class SharedSlot {
public:
    std::shared_ptr<T> load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    void store(std::shared_ptr<T> value) {
        value = exchange(std::move(value)); // the old value is released outside the lock
    }

    std::shared_ptr<T> exchange(std::shared_ptr<T> value) {
        std::lock_guard lock(mutex_);
        std::swap(value_, value);
        return value;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};

} // namespace serial
