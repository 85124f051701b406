// The event thread of CSerialEx: what it delivers, its wake-ups, its start and stop, a close
// while data keeps coming and a device that disappears under it.
#include "tests/serial/event_test_support.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using serialtest::Delivery;
using serialtest::RecordingPort;
using serialtest::SerialTest;
using serialtest::ThreadCount;
using serialtest::WaitForThreadCount;

namespace {

template <typename Done> bool WaitFor(Done done, int timeoutMs = 5000) {
    const auto start = std::chrono::steady_clock::now();
    while (!done() && serialtest::MillisecondsSince(start) < timeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

std::int64_t ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

} // namespace

TEST_F(SerialTest, EventThreadDeliversDataAndLineErrors) {
    RecordingPort port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
    line.Send({0x83, 0x7C});
    ASSERT_TRUE(WaitFor([&] { return port.DeliveryCount() >= 1; }));
    // The thread never reads: the bytes are still there for the reader.
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(WaitFor([&] {
        std::uint8_t buffer[16];
        std::uint32_t count = 0;
        port.Read(buffer, sizeof buffer, &count);
        received.insert(received.end(), buffer, buffer + count);
        return received.size() >= 2;
    }));
    EXPECT_EQ(received, (std::vector<std::uint8_t>{0x83, 0x7C}));
    const std::vector<Delivery> forData = port.Deliveries();
    EXPECT_LE(forData.size(), 2u); // at most one per arrival
    for (const Delivery& delivery : forData) {
        EXPECT_EQ(delivery.events, EvRxChar);
        EXPECT_EQ(delivery.errors, 0u);
    }

    SimulateLineErrors(port, LineErrFrame | LineErrOverrun);
    ASSERT_TRUE(WaitFor([&] { return port.DeliveryCount() == forData.size() + 1; }));
    const Delivery error = port.Deliveries().back();
    EXPECT_EQ(error.events, EvError);
    EXPECT_EQ(error.errors, LineErrFrame | LineErrOverrun);
}

TEST_F(SerialTest, WakeUpsDeliverNothingAndTheThreadGoesOn) {
    RecordingPort port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(port.SetEventMask(port.GetEventMask()), SerialOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(port.DeliveryCount(), 0u);
    line.Send({1});
    ASSERT_TRUE(WaitFor([&] { return port.DeliveryCount() == 1; }));
    EXPECT_EQ(port.Deliveries()[0].events, EvRxChar);
}

TEST_F(SerialTest, StopEndsTheThreadBeforeItTakesEventsAndRestartFindsThem) {
    const int baseline = serialtest::SettledThreadCount();
    RecordingPort port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    const int running = ThreadCount();
    EXPECT_GT(running, baseline);
    EXPECT_EQ(port.StopEventThread(SerialInfinite), SerialOk);
    EXPECT_TRUE(WaitForThreadCount(running - 1)); // joined: the thread is gone
    line.Send({5, 6});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(port.DeliveryCount(), 0u);
    EXPECT_TRUE(port.IsOpen());

    // What came while no thread ran is reported to the next one.
    ASSERT_EQ(port.StartEventThread(), SerialOk);
    ASSERT_TRUE(WaitFor([&] { return port.DeliveryCount() == 1; }));
    EXPECT_EQ(port.Deliveries()[0].events, EvRxChar);
    EXPECT_EQ(port.Close(), SerialOk);
    EXPECT_TRUE(WaitForThreadCount(baseline));
}

TEST_F(SerialTest, StartingTheEventThreadTwiceStartsOne) {
    RecordingPort port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    const int running = ThreadCount();
    EXPECT_EQ(port.StartEventThread(), SerialOk);
    EXPECT_EQ(port.StartEventThread(), SerialOk);
    EXPECT_EQ(port.GetLastError(), SerialOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ThreadCount(), running);

    RecordingPort quiet; // opened without the thread, then started once by hand
    serialtest::PtyPair other;
    ASSERT_EQ(quiet.Open(other.Path().c_str(), 512, 512, false), SerialOk);
    const int withoutThread = ThreadCount();
    EXPECT_EQ(quiet.StartEventThread(), SerialOk);
    EXPECT_EQ(quiet.StartEventThread(), SerialOk);
    EXPECT_TRUE(WaitForThreadCount(withoutThread + 1));
}

TEST_F(SerialTest, CloseWhileBytesKeepArrivingWaitsForTheThread) {
    const int baseline = serialtest::SettledThreadCount();
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        const std::uint8_t chunk[64] = {0x55};
        while (sending) {
            // Non-blocking: a full line just drops this chunk.
            [[maybe_unused]] ssize_t n = write(line.Master(), chunk, sizeof chunk);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::size_t deliveredInAllRounds = 0;
    for (int round = 0; round < 10; ++round) {
        RecordingPort port;
        ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
        std::thread reader([&] {
            std::uint8_t buffer[1024];
            std::uint32_t count = 0;
            // Reads until the close from the other thread makes the port answer "not open".
            while (port.Read(buffer, sizeof buffer, &count) != SerialErrNotOpen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(port.Close(), SerialOk);
        port.forbidden = true;
        const std::size_t atClose = port.DeliveryCount();
        reader.join();
        deliveredInAllRounds += atClose;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(port.deliveredWhileForbidden.load()) << "round " << round;
        EXPECT_EQ(port.DeliveryCount(), atClose);
        EXPECT_TRUE(WaitForThreadCount(baseline + 1)) << "round " << round; // the sender alone
    }
    sending = false;
    sender.join();
    EXPECT_GT(deliveredInAllRounds, 0u);
}

TEST_F(SerialTest, DeviceThatDisappearsEndsTheEventThreadWithoutSpinning) {
    const int baseline = serialtest::SettledThreadCount();
    serialtest::PtyPair doomed;
    RecordingPort port;
    ASSERT_EQ(port.Open(doomed.Path().c_str(), 512, 512, true), SerialOk);
    const int running = ThreadCount();
    doomed.Unplug();
    // The event thread ends on its own; the port's other resources stay until Close.
    ASSERT_TRUE(WaitForThreadCount(running - 1));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.DeliveryCount(), 0u);
    EXPECT_EQ(port.StartEventThread(), SerialOk); // its handle is kept: nothing new starts
    EXPECT_EQ(ThreadCount(), running - 1);

    // Nothing spins: the process stays mostly idle while the lost port is open.
    const std::int64_t cpuBefore = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ProcessCpuMs() - cpuBefore, serialtest::MillisecondsSince(start) / 2);

    std::uint8_t buffer[8];
    std::uint32_t count = 9;
    EXPECT_NE(port.Read(buffer, sizeof buffer, &count), SerialOk);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(port.Write(buffer, sizeof buffer, &count, nullptr, 1000), SerialOk);
    EXPECT_EQ(port.Close(), SerialOk);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(WaitForThreadCount(baseline));
}

TEST_F(SerialTest, EventThreadNeedsAnOpenPort) {
    const int baseline = serialtest::SettledThreadCount();
    RecordingPort never;
    EXPECT_EQ(never.StartEventThread(), SerialErrNotOpen);
    EXPECT_EQ(never.GetLastError(), SerialErrNotOpen);
    RecordingPort closed;
    ASSERT_EQ(closed.Open(line.Path().c_str(), 512, 512, false), SerialOk);
    ASSERT_EQ(closed.Close(), SerialOk);
    EXPECT_EQ(closed.StartEventThread(), SerialErrNotOpen);
    RecordingPort failed;
    ASSERT_NE(failed.Open("/dev/does-not-exist-here", 512, 512, false), SerialOk);
    EXPECT_EQ(failed.StartEventThread(), SerialErrNotOpen);
    EXPECT_EQ(serialtest::SettledThreadCount(), baseline);
}

namespace {

// A port whose deliveries wait until the test lets them go.
class StuckPort : public CSerialEx {
public:
    ~StuckPort() override { Close(); }
    std::atomic<bool> inDelivery{false};
    std::atomic<bool> released{false};
    std::atomic<bool> deliveryReturned{false};

protected:
    bool DeliverEvent(std::uint32_t, std::uint32_t) override {
        inDelivery = true;
        while (!released) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        deliveryReturned = true;
        return true;
    }
};

} // namespace

TEST_F(SerialTest, CloseWaitsForAThreadWhoseStopTimedOut) {
    const int baseline = serialtest::SettledThreadCount();
    StuckPort port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    line.Send({1});
    ASSERT_TRUE(serialtest::RunUntil([&] { return port.inDelivery.load(); }));
    EXPECT_EQ(port.StopEventThread(20), SerialOk); // expires: the thread is still delivering
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        port.released = true;
    });
    EXPECT_EQ(port.Close(), SerialOk);
    // Close came back only after the thread had left the object.
    EXPECT_TRUE(port.deliveryReturned.load());
    releaser.join();
    EXPECT_TRUE(WaitForThreadCount(baseline));
}

TEST_F(SerialTest, ThousandOpenCloseCyclesLeaveNoDescriptorOrThreadBehind) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const int threads = serialtest::SettledThreadCount();
    const auto fds = descriptors();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        RecordingPort port;
        ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk) << "cycle " << cycle;
        ASSERT_EQ(port.Close(), SerialOk);
    }
    EXPECT_TRUE(WaitForThreadCount(threads));
    EXPECT_EQ(descriptors(), fds);
}
