#include "tests/serial/event_test_support.h"

#include <filesystem>

namespace serialtest {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "serial_event_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

int SettledThreadCount() {
    int count = ThreadCount();
    for (int stable = 0; stable < 4;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int now = ThreadCount();
        stable = now == count ? stable + 1 : 0;
        count = now;
    }
    return count;
}

bool WaitForThreadCount(int count, int timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (ThreadCount() != count && MillisecondsSince(start) < timeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ThreadCount() == count;
}

} // namespace serialtest
