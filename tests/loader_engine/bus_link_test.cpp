// The loader's bus link over a pseudo-terminal: confirmed IPL sends, the
// discovery requests, the receive path and the routing of device replies.

#include "busproto/messages.h"
#include "loader/precise_delay.h"
#include "tests/loader_engine/loader_test_support.h"
#include "tests/support/pty_bus.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingSink : public CDiscoverySink {
public:
    void ShowRssi(const std::uint8_t* message) override {
        rssi.emplace_back(message, message + kDeviceMessageLength);
    }
    void AddDiscoveryReply(const std::uint8_t* message) override {
        replies.emplace_back(message, message + kDeviceMessageLength);
    }
    std::vector<Bytes> rssi;
    std::vector<Bytes> replies;
};

Bytes DeviceReply(std::uint32_t serial) {
    DeviceInfo device;
    device.product = 12;
    device.software = 0x11;
    device.serial = serial;
    Bytes message(kDeviceMessageLength);
    BuildDeviceReply(device, message.data());
    return message;
}

class BusLinkTest : public LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        m_bus = std::make_unique<PtyBus>(kComPort);
    }
    void TearDown() override {
        m_doc.ClosePort();
        m_bus.reset();
    }

    // Sends one IplMessage on a worker thread while this thread handles the
    // notifications. Returns the result and the time it took.
    std::pair<int, std::int64_t> SendIplFromWorker(std::uint8_t kind) {
        const std::uint8_t data[8] = {1, 2, 3, 0x84, 5, 6, 7, 0xFF};
        std::atomic<int> result{-1};
        std::int64_t elapsed = 0;
        std::thread worker([&] {
            const std::int64_t start = MonotonicNowNs();
            const int r = m_doc.SendIplMessage(kind, data);
            elapsed = MonotonicNowNs() - start;
            result = r;
        });
        EXPECT_TRUE(RunEventsUntil([&] { return result != -1; }, 10000));
        worker.join();
        return {result.load(), elapsed};
    }

    // Opens the port with its events left to the test, which hands them to ReceiveEvents and
    // the replies to HandleSerialEvent by hand.
    void OpenWithoutEvents() {
        m_doc.OpenPort(nullptr);
        ASSERT_TRUE(m_doc.IsPortOpen());
        m_doc.m_serial.SetEventMask(0);
    }
    // Events handed in by hand, then the replies delivered as the window would.
    void Events(std::uint32_t events) {
        m_doc.ReceiveEvents(events);
        m_doc.HandleSerialEvent(0);
    }
    void InjectAndSettle(const Bytes& bytes) {
        m_bus->Inject(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    std::unique_ptr<PtyBus> m_bus;
    RecordingSink m_sink;
};

TEST_F(BusLinkTest, OpensAtTheChosenRateWithResetReceiveState) {
    m_doc.m_rx.m_nRxState = 2; // half a message from before
    m_doc.m_rx.m_nRxExpected = 20;
    m_doc.m_rx.m_nRxCount = 7;
    m_doc.m_bAwaitEcho = 1;
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    EXPECT_EQ(m_doc.m_serial.GetBitRate(), 16457);
    EXPECT_EQ(m_doc.m_serial.GetDataBits(), 8);
    EXPECT_EQ(m_doc.m_serial.GetParity(), ParityNone);
    EXPECT_EQ(m_doc.m_serial.GetStopBits(), StopBitsOne);
    EXPECT_EQ(m_doc.m_serial.GetFlowControl(), FlowNone);
    EXPECT_EQ(m_doc.m_serial.GetEventMask(), 0x81u);
    EXPECT_EQ(m_doc.m_bAwaitEcho, 0);
    // The first byte after the reopening meets a fresh assembler: a stray
    // data byte is held alone instead of continuing the old message.
    m_doc.ReceiveByte(0x11);
    EXPECT_EQ(m_doc.m_rx.m_nRxState, 0);
    EXPECT_EQ(m_doc.m_rx.m_nRxExpected, 0);
    EXPECT_EQ(m_doc.m_rx.m_nRxCount, 1);

    m_doc.m_BitRate = 7;
    m_doc.OpenPort(&m_notify); // reopens at the new rate
    ASSERT_TRUE(m_doc.IsPortOpen());
    EXPECT_EQ(m_doc.m_serial.GetBitRate(), 115200);
}

TEST_F(BusLinkTest, PortThatIsMissingOrHasNoValidRateStaysClosed) {
    m_doc.m_ActiveComPort = 40;
    m_doc.OpenPort(&m_notify);
    EXPECT_FALSE(m_doc.IsPortOpen());
    m_doc.m_ActiveComPort = kComPort;
    m_doc.m_BitRate = 8;
    m_doc.OpenPort(&m_notify);
    EXPECT_FALSE(m_doc.IsPortOpen());
}

TEST_F(BusLinkTest, EchoAfterTwentyMillisecondsIsConfirmedByTheFirstWrite) {
    m_bus->SetEchoDelayMs(20);
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    const auto [result, elapsed] = SendIplFromWorker(IplData);
    EXPECT_EQ(result, 1);
    EXPECT_GE(elapsed, 20'000'000);
    RunEventsFor(100);
    const auto seen = m_bus->Messages();
    ASSERT_EQ(seen.size(), 1u);
    Bytes expected(kIplMessageLength);
    const std::uint8_t data[8] = {1, 2, 3, 0x84, 5, 6, 7, 0xFF};
    BuildIplMessage(IplData, data, expected.data());
    EXPECT_EQ(seen[0].bytes, expected);
    EXPECT_EQ(m_doc.m_bAwaitEcho, 0);
}

TEST_F(BusLinkTest, NoEchoMeansSixWritesAndFailureAfterAboutThreeHundredMs) {
    m_bus->SetEchoDelayMs(-1);
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    const auto [result, elapsed] = SendIplFromWorker(IplSetup);
    EXPECT_EQ(result, 0);
    EXPECT_GE(elapsed, 300'000'000);
    EXPECT_LT(elapsed, 3'000'000'000);
    const auto seen = m_bus->Messages();
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& message : seen) {
        EXPECT_EQ(message.bytes, seen[0].bytes);
    }
    // Nothing ties the stand-in's reading of one copy to the next write, so a
    // copy read late (a busy machine) shortens the gap it sees by that much.
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].firstByteNs - seen[i - 1].lastByteNs, 50'000'000 - kReadLatencyNs) << i;
    }
}

TEST_F(BusLinkTest, EchoOfALaterCopyConfirmsTheMessage) {
    m_bus->SetEchoFilter([](int index, const BusMessageSeen&) { return index == 2; });
    m_doc.OpenPort(&m_notify);
    const auto [result, elapsed] = SendIplFromWorker(IplAddress);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m_bus->Messages().size(), 3u);
}

TEST_F(BusLinkTest, DiscoverAndIdentifyRequestsAreByteExact) {
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    EXPECT_EQ(m_doc.SendDiscover(0), 1);
    EXPECT_EQ(m_doc.SendIdentify(12, 0x019234), 1);
    ASSERT_TRUE(m_bus->WaitForMessages(2, 5000));
    const Bytes discover = {0xE5, 0x14, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08};
    const Bytes identify = {0xE5, 0x14, 0x0F, 0x08, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x04,
                            0x00, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27};
    Bytes both = discover;
    both.insert(both.end(), identify.begin(), identify.end());
    EXPECT_EQ(m_bus->RawBytes(), both);
}

TEST_F(BusLinkTest, RequestsFailOnAClosedPortAndDuringADownload) {
    EXPECT_EQ(m_doc.SendDiscover(0), 0);
    m_doc.OpenPort(&m_notify);
    m_doc.m_bTransferActive = 1;
    EXPECT_EQ(m_doc.SendIdentify(12, 1), 0);
    m_doc.m_bTransferActive = 0;
    EXPECT_EQ(m_doc.SendIdentify(12, 1), 1);
}

TEST_F(BusLinkTest, RepliesAreRoutedByGroupOnlyOnceTheEchoHasCome) {
    m_bus->SetEchoDelayMs(-1);
    m_doc.m_pDiscoverDlg = &m_sink;
    m_doc.OpenPort(&m_notify);
    ASSERT_EQ(m_doc.SendDiscover(0), 1);
    ASSERT_TRUE(m_bus->WaitForMessages(1, 5000));
    const Bytes request = m_bus->Messages()[0].bytes;

    // While the echo of the request is awaited, a reply is used up by the
    // echo check and shown nowhere.
    const Bytes reply = DeviceReply(0x8091A2);
    m_bus->Inject(reply);
    RunEventsFor(150);
    EXPECT_TRUE(m_sink.replies.empty());
    EXPECT_EQ(m_doc.m_bAwaitEcho, 1);

    m_bus->Inject(request);
    ASSERT_TRUE(RunEventsUntil([&] { return m_doc.m_bAwaitEcho == 0; }, 5000));
    m_bus->Inject(reply);
    ASSERT_TRUE(RunEventsUntil([&] { return m_sink.replies.size() == 1; }, 5000));
    Bytes restored = reply;
    RestoreHighBits(restored.data());
    EXPECT_EQ(m_sink.replies[0], restored);
    EXPECT_EQ(m_sink.replies[0][13], 0x80); // serial bits 23..16 with bit 7 put back

    // A ping reply goes to ShowRssi whatever its code; other groups nowhere.
    Bytes ping(kDeviceMessageLength);
    BuildPingReply(0x33, 0x9A, 0x41, ping.data());
    Bytes otherGroup(kDeviceMessageLength);
    const std::uint8_t payload[12] = {};
    BuildDeviceMessage(0x0C, 0x10, payload, otherGroup.data());
    m_bus->Inject(otherGroup);
    m_bus->Inject(ping);
    ASSERT_TRUE(RunEventsUntil([&] { return m_sink.rssi.size() == 1; }, 5000));
    EXPECT_EQ(m_sink.rssi[0][12], 0x9A);
    EXPECT_EQ(m_sink.rssi[0][13], 0x41);
    EXPECT_EQ(m_sink.replies.size(), 1u);

    // Without a discovery window nothing is routed.
    m_doc.m_pDiscoverDlg = nullptr;
    m_bus->Inject(reply);
    RunEventsFor(150);
    EXPECT_EQ(m_sink.replies.size(), 1u);
}

TEST_F(BusLinkTest, NotificationWithBothBitsReadsNothing) {
    m_doc.m_pDiscoverDlg = &m_sink;
    OpenWithoutEvents();
    InjectAndSettle(DeviceReply(5));
    Events(0x0081);
    Events(0x0004);
    EXPECT_TRUE(m_sink.replies.empty());
    Events(0x00020001); // receive, with a line-error flag in the high half
    EXPECT_EQ(m_sink.replies.size(), 1u);
}

TEST_F(BusLinkTest, LineErrorDiscardsWaitingBytesAndRestartsAssembly) {
    m_doc.m_pDiscoverDlg = &m_sink;
    OpenWithoutEvents();
    const Bytes reply = DeviceReply(7);
    InjectAndSettle(Bytes(reply.begin(), reply.begin() + 8));
    Events(0x0001);
    EXPECT_EQ(m_doc.m_rx.m_nRxState, 2);
    EXPECT_EQ(m_doc.m_rx.m_nRxCount, 8);

    InjectAndSettle(Bytes(reply.begin() + 8, reply.begin() + 12));
    Events(0x00080080); // line error with the framing flag
    EXPECT_EQ(m_doc.m_rx.m_nRxState, 0);
    EXPECT_EQ(m_doc.m_rx.m_nRxExpected, 0);
    EXPECT_EQ(m_doc.m_rx.m_nRxCount, 8);

    // The rest of the broken message completes nothing; a whole one does.
    InjectAndSettle(Bytes(reply.begin() + 12, reply.end()));
    Events(0x0001);
    EXPECT_TRUE(m_sink.replies.empty());
    InjectAndSettle(reply);
    Events(0x0001);
    EXPECT_EQ(m_sink.replies.size(), 1u);
}

} // namespace
