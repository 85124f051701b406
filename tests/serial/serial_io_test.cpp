// Transfers, time-outs, asynchronous completion, events and a device that goes away.
#include "serial/output_queue.h"
#include "tests/serial/serial_test_support.h"

#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using serialtest::MillisecondsSince;
using serialtest::SerialTest;

namespace {

// Reads until `count` bytes came or a read fails or timeoutMs passed.
std::vector<std::uint8_t> ReadPort(CSerial& port, std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> all;
    const auto start = std::chrono::steady_clock::now();
    while (all.size() < count && MillisecondsSince(start) < timeoutMs) {
        std::uint8_t buffer[1024];
        std::uint32_t got = 0;
        if (port.Read(buffer, sizeof buffer, &got) != SerialOk) {
            break;
        }
        all.insert(all.end(), buffer, buffer + got);
        if (got == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return all;
}

// A driver's output queue over a pseudo-terminal: the bytes that the far end has not taken yet
// count as not sent, and a discard keeps the far end from ever taking them.
class PeerQueue : public serial::OutputQueue {
public:
    explicit PeerQueue(int master) : m_master(master) { serial::SetOutputQueueStandIn(this); }
    ~PeerQueue() override { serial::SetOutputQueueStandIn(nullptr); }
    PeerQueue(const PeerQueue&) = delete;
    PeerQueue& operator=(const PeerQueue&) = delete;

    void Wrote(int, int count) override {
        std::lock_guard guard(m_mutex);
        m_written += count;
    }
    int Queued(int) override {
        std::lock_guard guard(m_mutex);
        return m_written - m_taken - m_discarded;
    }
    void Discard(int) override {
        std::lock_guard guard(m_mutex);
        m_discarded = m_written - m_taken;
    }

    // The far end takes the next `count` bytes that were not discarded, waiting up to 2 s for
    // them to be written.
    std::vector<std::uint8_t> Take(std::size_t count) {
        std::vector<std::uint8_t> taken;
        const auto start = std::chrono::steady_clock::now();
        while (taken.size() < count && MillisecondsSince(start) < 2000) {
            std::uint8_t byte = 0;
            if (read(m_master, &byte, 1) != 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::lock_guard guard(m_mutex);
            if (m_skipped < m_discarded) {
                ++m_skipped; // a discarded byte: it never went on the line
                m_thrownAway.push_back(byte);
            } else {
                taken.push_back(byte);
                ++m_taken;
            }
        }
        return taken;
    }
    // The bytes discarded so far, once the far end has come past them.
    std::vector<std::uint8_t> ThrownAway() {
        std::lock_guard guard(m_mutex);
        return m_thrownAway;
    }

private:
    int m_master;
    std::mutex m_mutex;
    int m_written = 0;
    int m_taken = 0;
    int m_discarded = 0;
    int m_skipped = 0;
    std::vector<std::uint8_t> m_thrownAway;
};

} // namespace

TEST_F(SerialTest, AWriteCompletesWhenItsBytesHaveLeftTheQueueAndATimeOutDiscardsOnlyItsOwn) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    // Non-blocking reads on the far end, so that the queue's Take can wait with a limit.
    ASSERT_EQ(fcntl(line.Master(), F_SETFL, fcntl(line.Master(), F_GETFL) | O_NONBLOCK), 0);
    PeerQueue queue(line.Master());
    const std::vector<std::uint8_t> first = Pattern(16);
    const std::vector<std::uint8_t> second(20, 0xA5);
    const std::vector<std::uint8_t> third(8, 0x5A);

    // A write waits until its bytes have left the queue: here, until the far end took them.
    std::uint32_t written = 0;
    std::vector<std::uint8_t> arrived;
    std::thread farEnd([&] { arrived = queue.Take(first.size()); });
    ASSERT_EQ(port.Write(first.data(), first.size(), &written, nullptr, 5000), SerialOk);
    farEnd.join();
    EXPECT_EQ(written, first.size());
    EXPECT_EQ(arrived, first);

    // Nobody takes the second: its time-out throws away its bytes and nothing of the first.
    EXPECT_EQ(port.Write(second.data(), second.size(), &written, nullptr, 100), SerialErrTimeout);
    EXPECT_EQ(queue.Queued(0), 0);

    // The third goes whole, and the far end never saw the second.
    farEnd = std::thread([&] { arrived = queue.Take(third.size()); });
    EXPECT_EQ(port.Write(third.data(), third.size(), &written, nullptr, 5000), SerialOk);
    farEnd.join();
    EXPECT_EQ(arrived, third);
    EXPECT_EQ(queue.ThrownAway(), second);
}

TEST_F(SerialTest, EveryByteValueCrossesUnchangedBothWays) {
    for (bool overlapped : {false, true}) {
        CSerial port;
        ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, overlapped), SerialOk);
        ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
        ASSERT_EQ(port.SetFlowControl(FlowNone), SerialOk);
        std::vector<std::uint8_t> all = Pattern(256);
        all.insert(all.end(), {'\r', '\n', 0x11, 0x13, 0x03, 0x1A, 0x7F, 0xFF, 0x00});
        std::uint32_t written = 0;
        ASSERT_EQ(port.Write(all.data(), all.size(), &written, nullptr,
                             overlapped ? 2000 : SerialInfinite),
                  SerialOk);
        EXPECT_EQ(written, all.size());
        EXPECT_EQ(line.Receive(all.size(), 2000), all);
        line.Send(all);
        EXPECT_EQ(ReadPort(port, all.size(), 5000), all);
    }
}

TEST_F(SerialTest, SynchronousPortRefusesRecordsAndTimeLimits) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    line.Send({42});
    std::uint8_t byte = 0;
    std::uint32_t count = 5;
    EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, 100), SerialErrInvalidFunction);
    EXPECT_EQ(count, 0u);
    platform::ManualResetSignal signal;
    CompletionRecord record;
    record.signal = &signal;
    EXPECT_EQ(port.Read(&byte, 1, &count, &record), SerialErrInvalidFunction);
    EXPECT_EQ(port.WaitForEvent(nullptr, 10), SerialErrInvalidFunction);
    EXPECT_EQ(ReadPort(port, 1, 2000), std::vector<std::uint8_t>{42}); // nothing was taken
}

TEST_F(SerialTest, WriteThatCannotFinishTimesOutAndIsCancelled) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    const std::vector<std::uint8_t> big = Pattern(1 << 20); // far more than the line buffers
    std::uint32_t written = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Write(big.data(), big.size(), &written, nullptr, 300), SerialErrTimeout);
    EXPECT_GE(MillisecondsSince(start), 300);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(port.GetLastError(), SerialErrTimeout);

    // The rest of the write is gone: the other end gets less than was asked, then nothing more.
    const std::size_t arrived = line.Receive(big.size(), 500).size();
    EXPECT_LT(arrived, big.size());
    EXPECT_TRUE(line.Receive(1, 300).empty());
    // And the port still works.
    ASSERT_EQ(port.WriteText("ok", &written, nullptr, 2000), SerialOk);
    EXPECT_EQ(line.Receive(2, 2000), (std::vector<std::uint8_t>{'o', 'k'}));
}

TEST_F(SerialTest, ReadPendingOnCallersRecordCompletesLater) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
    platform::ManualResetSignal signal;
    CompletionRecord record;
    record.signal = &signal;
    std::uint8_t buffer[4] = {};
    std::uint32_t count = 9;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &count, &record), SerialOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(signal.Wait(50), platform::WaitTimedOut);
    line.Send({7, 8, 9, 10});
    ASSERT_EQ(signal.Wait(5000), platform::WaitSignalled);
    EXPECT_EQ(record.status.load(), SerialOk);
    EXPECT_EQ(record.count.load(), 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4),
              (std::vector<std::uint8_t>{7, 8, 9, 10}));
}

TEST_F(SerialTest, BoundedReadTimesOutWithNothingTaken) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
    std::uint8_t buffer[8];
    std::uint32_t count = 3;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, 100), SerialErrTimeout);
    EXPECT_GE(MillisecondsSince(start), 100);
    EXPECT_EQ(count, 0u);
    // The cancelled read must not swallow what comes afterwards.
    line.Send({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, 5000), SerialOk);
    EXPECT_EQ(count, 8u);
}

TEST_F(SerialTest, EventWaitReportsReceivedData) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WaitForEvent(nullptr, 100), SerialErrTimeout);
    EXPECT_GE(MillisecondsSince(start), 100);
    line.Send({1});
    ASSERT_EQ(port.WaitForEvent(nullptr, 5000), SerialOk);
    EXPECT_EQ(port.TakeEvents(), EvRxChar);
    EXPECT_EQ(port.TakeEvents(), 0u);
    // Unread data is reported once, not again on every wait.
    EXPECT_EQ(port.WaitForEvent(nullptr, 100), SerialErrTimeout);
}

TEST_F(SerialTest, EventsOutsideTheMaskAreNeverReported) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvError), SerialOk);
    line.Send({1, 2});
    EXPECT_EQ(port.WaitForEvent(nullptr, 200), SerialErrTimeout);
    EXPECT_EQ(port.TakeEvents(), 0u);
    SimulateLineErrors(port, LineErrFrame);
    ASSERT_EQ(port.WaitForEvent(nullptr, 5000), SerialOk);
    EXPECT_EQ(port.TakeEvents(), EvError);
}

TEST_F(SerialTest, MaskChangeWakesAWaitOfAnotherThreadWithNoEvents) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    platform::ManualResetSignal signal;
    CompletionRecord record;
    record.signal = &signal;
    std::int32_t started = -1;
    std::thread waiter([&] { started = port.WaitForEvent(&record, SerialInfinite); });
    waiter.join();
    ASSERT_EQ(started, SerialOk);
    EXPECT_EQ(signal.Wait(50), platform::WaitTimedOut);
    ASSERT_EQ(port.SetEventMask(port.GetEventMask()), SerialOk);
    ASSERT_EQ(signal.Wait(5000), platform::WaitSignalled);
    EXPECT_EQ(record.status.load(), SerialOk);
    EXPECT_EQ(port.TakeEvents(), 0u);
}

TEST_F(SerialTest, VanishedDeviceGivesErrorsWithoutHanging) {
    for (bool overlapped : {false, true}) {
        serialtest::PtyPair doomed;
        CSerial port;
        ASSERT_EQ(port.Open(doomed.Path().c_str(), 512, 512, overlapped), SerialOk);
        platform::ManualResetSignal signal;
        CompletionRecord record;
        record.signal = &signal;
        if (overlapped) {
            ASSERT_EQ(port.WaitForEvent(&record), SerialOk); // pending while the device goes
        }
        doomed.Unplug();
        if (overlapped) {
            ASSERT_EQ(signal.Wait(5000), platform::WaitSignalled);
            EXPECT_NE(record.status.load(), SerialOk);
            EXPECT_NE(port.WaitForEvent(nullptr, 5000), SerialOk);
        }
        std::uint8_t buffer[16];
        std::uint32_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(port.Read(buffer, sizeof buffer, &count), SerialOk);
        EXPECT_EQ(count, 0u);
        EXPECT_NE(port.Write(buffer, sizeof buffer, &count), SerialOk);
        EXPECT_NE(port.SetLineFormat(9600, 8, ParityNone, StopBitsOne), SerialOk);
        EXPECT_LT(MillisecondsSince(start), 5000);
        EXPECT_TRUE(port.IsOpen());
        EXPECT_EQ(port.Close(), SerialOk);
    }
}

TEST_F(SerialTest, ReadOnVanishedDeviceInBlockingModeReturns) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
    std::int32_t result = SerialOk;
    std::thread reader([&] {
        std::uint8_t buffer[16];
        result = port.Read(buffer, sizeof buffer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    line.Unplug();
    reader.join(); // a hang here is the fault
    EXPECT_NE(result, SerialOk);
}

TEST_F(SerialTest, CloseFromAnotherThreadEndsAPendingRead) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
    std::int32_t result = SerialOk;
    std::thread reader([&] {
        std::uint8_t buffer[16];
        result = port.Read(buffer, sizeof buffer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(port.Close(), SerialOk);
    reader.join();
    EXPECT_NE(result, SerialOk);
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortAvailable);
}

TEST_F(SerialTest, WriteTimeOutKeepsEveryByteOfTheWritesBefore) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    const std::vector<std::uint8_t> first = Pattern(8192);
    std::vector<std::uint8_t> second(1 << 20, 0xA5);
    std::uint32_t written = 0;
    ASSERT_EQ(port.Write(first.data(), first.size(), &written, nullptr, 2000), SerialOk);
    ASSERT_EQ(written, first.size());
    ASSERT_EQ(port.Write(second.data(), second.size(), &written, nullptr, 300), SerialErrTimeout);

    // The far end gets the whole first write, in order, then at most a part of the second.
    const std::vector<std::uint8_t> arrived = line.Receive(first.size() + second.size(), 500);
    ASSERT_GE(arrived.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), arrived.begin()));
    EXPECT_LT(arrived.size(), first.size() + second.size());
    EXPECT_TRUE(std::all_of(arrived.begin() + static_cast<std::ptrdiff_t>(first.size()),
                            arrived.end(), [](std::uint8_t b) { return b == 0xA5; }));
}

TEST_F(SerialTest, EventCharacterAndEmptyOutputQueueAreRaised) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    ASSERT_EQ(port.SetEventCharacter('\n', false), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxFlag), SerialOk);
    line.Send({'a', 'b'});
    EXPECT_EQ(port.WaitForEvent(nullptr, 200), SerialErrTimeout) << "no event character yet";
    line.Send({'c', '\n', 'd'});
    ASSERT_EQ(port.WaitForEvent(nullptr, 5000), SerialOk);
    EXPECT_EQ(port.TakeEvents(), EvRxFlag);
    // The bytes looked at for the character are all still there for the reader, in order.
    EXPECT_EQ(ReadPort(port, 5, 5000), (std::vector<std::uint8_t>{'a', 'b', 'c', '\n', 'd'}));

    ASSERT_EQ(port.SetEventMask(EvTxEmpty), SerialOk);
    platform::ManualResetSignal signal;
    CompletionRecord record;
    record.signal = &signal;
    ASSERT_EQ(port.WaitForEvent(&record, SerialInfinite), SerialOk);
    EXPECT_EQ(signal.Wait(50), platform::WaitTimedOut);
    std::uint32_t written = 0;
    ASSERT_EQ(port.WriteText("sixteen bytes...", &written, nullptr, 2000), SerialOk);
    ASSERT_EQ(signal.Wait(5000), platform::WaitSignalled);
    EXPECT_EQ(record.status.load(), SerialOk);
    EXPECT_EQ(port.TakeEvents(), EvTxEmpty);
    EXPECT_EQ(line.Receive(16, 2000).size(), 16u);
}
