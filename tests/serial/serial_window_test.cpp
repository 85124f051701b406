// Notifications of CSerialWnd and CSerialMFC, posted from the event thread to a receiver on the
// application's event loop.
#include "serial/serial_mfc.h"
#include "tests/serial/event_test_support.h"

#include <QThread>

using platform::LParam;
using platform::WindowMessageReceiver;
using platform::WParam;
using serialtest::RunFor;
using serialtest::RunUntil;
using serialtest::SerialTest;
using serialtest::ThreadCount;

namespace {

struct Notification {
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
};

// A receiver that records every notification of the numbers it is told to map.
class Recorder {
public:
    void Map(std::uint32_t message) {
        receiver.MapMessage(message, [this, message](WParam w, LParam l) {
            onReceiverThread &= QThread::currentThread() == receiver.thread();
            seen.push_back({message, w, l});
        });
    }
    WindowMessageReceiver receiver;
    std::vector<Notification> seen;
    bool onReceiverThread = true;
};

// Sets the port up as both programs do after opening it.
void SetUpLikeThePrograms(CSerial& port) {
    ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
    ASSERT_EQ(port.SetFlowControl(FlowNone), SerialOk);
    ASSERT_EQ(port.SetReadMode(ReadNonBlocking), SerialOk);
}

// A CSerialMFC that tells when its event thread has posted.
class PostingPort : public CSerialMFC {
public:
    ~PostingPort() override { Close(); }
    std::atomic<int> posts{0};

protected:
    bool DeliverEvent(std::uint32_t events, std::uint32_t errors) override {
        const bool posted = CSerialMFC::DeliverEvent(events, errors);
        ++posts;
        return posted;
    }
};

} // namespace

TEST(SerialWindow, DefaultMessageIsTheRegisteredName) {
    EXPECT_NE(CSerialWnd::defaultComMessage, 0u);
    EXPECT_EQ(CSerialWnd::defaultComMessage,
              platform::RegisterWindowMessage("CSerialWnd_DefaultComMsg"));
}

TEST_F(SerialTest, NotificationReachesTheViewWithTheUserValue) {
    serialtest::App();
    Recorder view;
    view.Map(CSerialWnd::defaultComMessage);
    CSerialMFC port;
    std::vector<std::uint8_t> received;
    // The handler of the programs: one non-blocking read of up to 1024 bytes per notification.
    view.receiver.MapMessage(CSerialWnd::defaultComMessage, [&](WParam w, LParam l) {
        view.seen.push_back({CSerialWnd::defaultComMessage, w, l});
        std::uint8_t buffer[1024];
        std::uint32_t count = 0;
        if ((w & 0xFFFF) == EvRxChar && port.Read(buffer, sizeof buffer, &count) == SerialOk) {
            received.insert(received.end(), buffer, buffer + count);
        }
    });
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), &view.receiver, 0, 12, 512, 512), SerialOk);
    SetUpLikeThePrograms(port);
    const std::vector<std::uint8_t> sent = {0xE5, 0x10, 0x7F, 0x00, 0xFF};
    line.Send(sent);
    ASSERT_TRUE(RunUntil([&] { return received.size() == sent.size(); }));
    EXPECT_EQ(received, sent);
    ASSERT_FALSE(view.seen.empty());
    EXPECT_EQ(view.seen[0].wParam, EvRxChar);
    EXPECT_EQ(view.seen[0].lParam, 12);
}

TEST_F(SerialTest, OwnMessageNumberIsPostedInsteadOfTheDefault) {
    serialtest::App();
    Recorder view;
    const std::uint32_t own = platform::RegisterWindowMessage("SerialWindowTest_Own");
    view.Map(CSerialWnd::defaultComMessage);
    view.Map(own);
    CSerialMFC port;
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), &view.receiver, own, -7, 512, 512), SerialOk);
    line.Send({1});
    ASSERT_TRUE(RunUntil([&] { return !view.seen.empty(); }));
    RunFor(30);
    ASSERT_EQ(view.seen.size(), 1u);
    EXPECT_EQ(view.seen[0].message, own);
    EXPECT_EQ(view.seen[0].wParam, EvRxChar);
    EXPECT_EQ(view.seen[0].lParam, -7);
    EXPECT_TRUE(view.onReceiverThread);

    // Opening again while open changes neither the port nor its target.
    Recorder other;
    other.Map(CSerialWnd::defaultComMessage);
    EXPECT_EQ(port.OpenForWindow(line.Path().c_str(), &other.receiver, 0, 1, 512, 512),
              SerialErrAlreadyOpen);
    std::uint8_t buffer[16];
    ASSERT_EQ(port.Read(buffer, sizeof buffer), SerialOk);
    line.Send({2});
    ASSERT_TRUE(RunUntil([&] { return view.seen.size() == 2; }));
    EXPECT_EQ(view.seen[1].message, own);
    EXPECT_TRUE(other.seen.empty());
}

TEST_F(SerialTest, FirstParameterPacksEventsAndLineErrors) {
    serialtest::App();
    Recorder view;
    view.Map(CSerialWnd::defaultComMessage);
    CSerialWnd port; // addressed by the raw window handle
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), view.receiver.Handle(), 0, 12, 512, 512),
              SerialOk);

    // An overrun counted before a byte arrives, with only received data in the mask: the
    // notification of the byte carries the overrun flag in its high half.
    ASSERT_EQ(port.StopEventThread(SerialInfinite), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar), SerialOk);
    SimulateLineErrors(port, LineErrOverrun);
    ASSERT_EQ(port.StartEventThread(), SerialOk);
    line.Send({0x42});
    ASSERT_TRUE(RunUntil([&] { return view.seen.size() == 1; }));
    EXPECT_EQ(view.seen[0].wParam, 0x00020001u);
    EXPECT_EQ(view.seen[0].lParam, 12);
    std::uint8_t buffer[16];
    ASSERT_EQ(port.Read(buffer, sizeof buffer), SerialOk);

    // A framing error raises the error event itself.
    ASSERT_EQ(port.StopEventThread(SerialInfinite), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
    SimulateLineErrors(port, LineErrFrame);
    ASSERT_EQ(port.StartEventThread(), SerialOk);
    ASSERT_TRUE(RunUntil([&] { return view.seen.size() == 2; }));
    EXPECT_EQ(view.seen[1].wParam, 0x00080080u);

    // A break with the break event in the mask, while the thread waits.
    ASSERT_EQ(port.StopEventThread(SerialInfinite), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError | EvBreak), SerialOk);
    ASSERT_EQ(port.StartEventThread(), SerialOk);
    SimulateLineErrors(port, LineErrBreak);
    ASSERT_TRUE(RunUntil([&] { return view.seen.size() == 3; }));
    EXPECT_EQ(view.seen[2].wParam & 0xFFFF, EvBreak);
    EXPECT_EQ(view.seen[2].wParam >> 16, LineErrBreak);
}

TEST_F(SerialTest, WakeUpPostsNoNotification) {
    serialtest::App();
    Recorder view;
    view.Map(CSerialWnd::defaultComMessage);
    CSerialMFC port;
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), &view.receiver, 0, 12, 512, 512), SerialOk);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
        RunFor(10);
    }
    ASSERT_EQ(port.StopEventThread(SerialInfinite), SerialOk);
    RunFor(50);
    EXPECT_TRUE(view.seen.empty());
}

TEST_F(SerialTest, NotificationQueuedAfterCloseFindsThePortClosed) {
    serialtest::App();
    WindowMessageReceiver view;
    PostingPort port;
    std::vector<std::pair<std::int32_t, std::uint32_t>> reads;
    view.MapMessage(CSerialWnd::defaultComMessage, [&](WParam, LParam) {
        std::uint8_t buffer[1024];
        std::uint32_t count = 77;
        const std::int32_t result = port.Read(buffer, sizeof buffer, &count);
        reads.emplace_back(result, count);
    });
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), &view, 0, 12, 512, 512), SerialOk);
    line.Send({1, 2, 3});
    // Without running the event loop: the notification stays queued.
    const auto start = std::chrono::steady_clock::now();
    while (port.posts.load() == 0 && serialtest::MillisecondsSince(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GT(port.posts.load(), 0);
    EXPECT_EQ(port.Close(), SerialOk);
    ASSERT_TRUE(RunUntil([&] { return !reads.empty(); }));
    EXPECT_EQ(reads[0].first, SerialErrNotOpen);
    EXPECT_EQ(reads[0].second, 0u);
}

TEST_F(SerialTest, NullWindowStillOpensThePort) {
    serialtest::App();
    CSerialMFC port;
    ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), static_cast<WindowMessageReceiver*>(nullptr),
                                 0, 12, 512, 512),
              SerialOk);
    EXPECT_TRUE(port.IsOpen());
    SetUpLikeThePrograms(port);
    line.Send({9, 8, 7}); // the notification goes nowhere
    std::vector<std::uint8_t> received;
    const auto start = std::chrono::steady_clock::now();
    while (received.size() < 3 && serialtest::MillisecondsSince(start) < 5000) {
        std::uint8_t buffer[16];
        std::uint32_t count = 0;
        ASSERT_EQ(port.Read(buffer, sizeof buffer, &count), SerialOk);
        received.insert(received.end(), buffer, buffer + count);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(received, (std::vector<std::uint8_t>{9, 8, 7}));
    std::uint32_t written = 0;
    EXPECT_EQ(port.Write("ok", 2, &written, nullptr, 2000), SerialOk);
    EXPECT_EQ(line.Receive(2, 2000), (std::vector<std::uint8_t>{'o', 'k'}));
    EXPECT_EQ(port.Close(), SerialOk);
}

TEST_F(SerialTest, FailedOpenForWindowLeavesNothingBehind) {
    serialtest::App();
    const int baseline = serialtest::SettledThreadCount();
    Recorder view;
    CSerialMFC port;
    EXPECT_EQ(port.OpenForWindow("/dev/no-such-serial-device", &view.receiver, 0, 12, 512, 512),
              SerialErrFileNotFound);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(serialtest::WaitForThreadCount(baseline));
    CSerialMFC holder;
    ASSERT_EQ(holder.OpenForWindow(line.Path().c_str(), &view.receiver, 0, 12, 512, 512), SerialOk);
    EXPECT_EQ(port.OpenForWindow(line.Path().c_str(), &view.receiver, 0, 12, 512, 512),
              SerialErrAccessDenied);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialTest, DestroyingAnOpenObjectStopsTheThreadAndClosesThePort) {
    serialtest::App();
    const int baseline = serialtest::SettledThreadCount();
    Recorder view;
    view.Map(CSerialWnd::defaultComMessage);
    {
        CSerialMFC port;
        ASSERT_EQ(port.OpenForWindow(line.Path().c_str(), &view.receiver, 0, 12, 512, 512),
                  SerialOk);
        EXPECT_GT(ThreadCount(), baseline);
        EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortInUse);
        line.Send({1, 2});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(serialtest::WaitForThreadCount(baseline));
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortAvailable);
    RunFor(20); // what was posted before may still arrive; nothing after
    const std::size_t seen = view.seen.size();
    line.Send({3});
    RunFor(50);
    EXPECT_EQ(view.seen.size(), seen);
}

TEST_F(SerialTest, DeviceThatDisappearsPostsNothingAndCloseReleasesIt) {
    serialtest::App();
    const int baseline = serialtest::SettledThreadCount();
    Recorder view;
    view.Map(CSerialWnd::defaultComMessage);
    serialtest::PtyPair doomed;
    CSerialMFC port;
    ASSERT_EQ(port.OpenForWindow(doomed.Path().c_str(), &view.receiver, 0, 12, 512, 512), SerialOk);
    const int running = ThreadCount();
    doomed.Unplug();
    ASSERT_TRUE(serialtest::WaitForThreadCount(running - 1));
    RunFor(50);
    EXPECT_TRUE(view.seen.empty());
    EXPECT_TRUE(port.IsOpen());
    std::uint32_t written = 0;
    EXPECT_NE(port.Write("x", 1, &written, nullptr, 2000), SerialOk);
    EXPECT_EQ(port.Close(), SerialOk);
    EXPECT_TRUE(serialtest::WaitForThreadCount(baseline));
}
