// Registered message numbers and messages posted between threads to a receiver.
#include "platform/core/window_message.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using platform::LParam;
using platform::PostMessage;
using platform::RegisterWindowMessage;
using platform::WindowHandle;
using platform::WindowMessageReceiver;
using platform::WParam;

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "platform_core_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() holds or timeoutMs passed; returns done().
template <typename Done> bool RunUntil(Done done, int timeoutMs = 5000) {
    App();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < limit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Lets the event loop run for a while, for checks that something does not happen.
void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

struct Received {
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
};

} // namespace

TEST(RegisterWindowMessage, OneNumberPerName) {
    const std::uint32_t a = RegisterWindowMessage("WindowMessageTest_A");
    const std::uint32_t b = RegisterWindowMessage("WindowMessageTest_B");
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(a, 0xFFFFu);
    EXPECT_NE(a, b);
    EXPECT_EQ(RegisterWindowMessage(std::string("WindowMessageTest_") + "A"), a);
    EXPECT_NE(RegisterWindowMessage("windowmessagetest_a"), a); // names are case-sensitive
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

TEST(RegisterWindowMessage, ConcurrentRegistrationsAgree) {
    std::vector<std::uint32_t> numbers(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        threads.emplace_back([&numbers, i] {
            for (int k = 0; k < 50; ++k) {
                RegisterWindowMessage("WindowMessageTest_Other" + std::to_string(k));
            }
            numbers[i] = RegisterWindowMessage("WindowMessageTest_Shared");
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::set<std::uint32_t>(numbers.begin(), numbers.end()).size(), 1u);
    EXPECT_NE(numbers[0], 0u);
}

TEST(PostMessage, ReachesTheHandlerOnTheReceiversThreadInOrder) {
    App();
    WindowMessageReceiver receiver;
    const std::uint32_t message = RegisterWindowMessage("WindowMessageTest_Order");
    std::vector<Received> received;
    bool onOwnThread = true;
    receiver.MapMessage(message, [&](WParam w, LParam l) {
        onOwnThread &= QThread::currentThread() == receiver.thread();
        received.push_back({message, w, l});
    });
    std::atomic<bool> allPosted{false};
    std::thread poster([&] {
        for (WParam i = 0; i < 100; ++i) {
            EXPECT_TRUE(PostMessage(receiver.Handle(), message, 0xFFFF0000u | i, -12));
        }
        allPosted = true;
    });
    ASSERT_TRUE(RunUntil([&] { return received.size() == 100; }));
    poster.join();
    EXPECT_TRUE(onOwnThread);
    for (WParam i = 0; i < 100; ++i) {
        EXPECT_EQ(received[i].wParam, 0xFFFF0000u | i);
        EXPECT_EQ(received[i].lParam, -12);
    }
}

TEST(PostMessage, PostingNeverWaitsForTheReceiversThread) {
    App();
    WindowMessageReceiver receiver;
    const std::uint32_t message = RegisterWindowMessage("WindowMessageTest_NoWait");
    int handled = 0;
    receiver.MapMessage(message, [&](WParam, LParam) { ++handled; });
    // Nothing runs the event loop while the other thread posts; the posts must still return.
    std::thread poster([&] {
        for (int i = 0; i < 1000; ++i) {
            PostMessage(receiver.Handle(), message, 1, 2);
        }
    });
    poster.join();
    EXPECT_EQ(handled, 0);
    ASSERT_TRUE(RunUntil([&] { return handled == 1000; }));
}

TEST(PostMessage, UnmappedAndRemappedMessages) {
    App();
    WindowMessageReceiver receiver;
    const std::uint32_t first = RegisterWindowMessage("WindowMessageTest_First");
    const std::uint32_t second = RegisterWindowMessage("WindowMessageTest_Second");
    std::vector<std::uint32_t> seen;
    receiver.MapMessage(first, [&](WParam, LParam) {
        seen.push_back(first);
        // A handler may change the map while it runs.
        receiver.MapMessage(first, [&](WParam, LParam) { seen.push_back(first + 1000); });
    });
    EXPECT_TRUE(PostMessage(receiver.Handle(), second, 0, 0)); // no handler: ignored
    EXPECT_TRUE(PostMessage(receiver.Handle(), first, 0, 0));
    EXPECT_TRUE(PostMessage(receiver.Handle(), first, 0, 0));
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{first, first + 1000}));
}

TEST(PostMessage, NullOrStaleHandleIsRefused) {
    App();
    EXPECT_FALSE(PostMessage(WindowHandle{}, 0xC000, 1, 2));
    WindowHandle stale;
    {
        WindowMessageReceiver gone;
        stale = gone.Handle();
        EXPECT_FALSE(stale.IsNull());
    }
    EXPECT_FALSE(PostMessage(stale, 0xC000, 1, 2));
    WindowMessageReceiver a;
    WindowMessageReceiver b;
    EXPECT_NE(a.Handle(), b.Handle());
    EXPECT_NE(a.Handle(), stale); // handles are not reused
    EXPECT_NE(b.Handle(), stale);
}

TEST(PostMessage, MessageQueuedForADestroyedReceiverIsDropped) {
    App();
    const std::uint32_t message = RegisterWindowMessage("WindowMessageTest_Dropped");
    int handled = 0;
    auto receiver = std::make_unique<WindowMessageReceiver>();
    receiver->MapMessage(message, [&](WParam, LParam) { ++handled; });
    const WindowHandle handle = receiver->Handle();
    ASSERT_TRUE(PostMessage(handle, message, 1, 2));
    receiver.reset();
    RunFor(50);
    EXPECT_EQ(handled, 0);
}

TEST(PostMessage, ReceiverDestroyedWhileAnotherThreadKeepsPosting) {
    App();
    const std::uint32_t message = RegisterWindowMessage("WindowMessageTest_Race");
    std::atomic<bool> stop{false};
    std::atomic<WindowHandle> target{};
    std::atomic<int> refused{0};
    std::thread poster([&] {
        while (!stop) {
            if (!PostMessage(target.load(), message, 3, 4)) {
                ++refused;
            }
        }
    });
    int handled = 0;
    WindowHandle last;
    for (int round = 0; round < 50; ++round) {
        auto receiver = std::make_unique<WindowMessageReceiver>();
        receiver->MapMessage(message, [&](WParam, LParam) { ++handled; });
        last = receiver->Handle();
        target = last;
        QCoreApplication::processEvents();
        receiver.reset(); // events still queued for it must go with it
    }
    const int handledBeforeStop = handled;
    const int refusedBeforeStop = refused.load();
    RunUntil([&] { return refused.load() > refusedBeforeStop; });
    stop = true;
    poster.join();
    RunFor(20); // nothing left may reach a destroyed receiver
    EXPECT_EQ(handled, handledBeforeStop);
    EXPECT_GT(refused.load(), refusedBeforeStop); // posts to the last, destroyed receiver
    EXPECT_FALSE(PostMessage(last, message, 3, 4));
}

TEST(PostMessage, ReceiverOnAnotherThreadHandlesThere) {
    App();
    const std::uint32_t message = RegisterWindowMessage("WindowMessageTest_Worker");
    const std::uint32_t quit = RegisterWindowMessage("WindowMessageTest_Quit");
    std::atomic<WindowHandle> handle{};
    std::atomic<bool> onWorker{false};
    std::atomic<WParam> value{0};
    std::thread worker([&] {
        // The receiver belongs to the thread that makes it, and runs its handlers there.
        WindowMessageReceiver receiver;
        QEventLoop loop;
        const std::thread::id self = std::this_thread::get_id();
        receiver.MapMessage(message, [&](WParam w, LParam) {
            value = w;
            onWorker = std::this_thread::get_id() == self;
        });
        receiver.MapMessage(quit, [&](WParam, LParam) { loop.quit(); });
        handle = receiver.Handle();
        loop.exec();
    });
    ASSERT_TRUE(RunUntil([&] { return !handle.load().IsNull(); }));
    EXPECT_TRUE(PostMessage(handle.load(), message, 0x00020001, 12));
    EXPECT_TRUE(PostMessage(handle.load(), quit, 0, 0));
    worker.join(); // a lost message would leave the worker's loop running
    EXPECT_TRUE(onWorker.load());
    EXPECT_EQ(value.load(), 0x00020001u);
    EXPECT_FALSE(PostMessage(handle.load(), message, 1, 1)); // gone with its thread
}
