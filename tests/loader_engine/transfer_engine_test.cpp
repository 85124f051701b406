// The firmware download end to end: a KFW file, the engine's worker thread,
// the bus link on this thread's event loop and a stand-in bus on a pty.

#include "busproto/messages.h"
#include "loader/kfw_writer.h"
#include "loader/transfer_engine.h"
#include "tests/loader_engine/loader_test_support.h"
#include "tests/support/pty_bus.h"

#include <mutex>
#include <numeric>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kMs = 1'000'000;

Bytes Ipl(std::uint8_t kind, Bytes payload) {
    payload.resize(8, 0);
    Bytes message(kIplMessageLength);
    BuildIplMessage(kind, payload.data(), message.data());
    return message;
}

Bytes Counting(int size, int first = 0) {
    Bytes data(static_cast<size_t>(size));
    std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(first));
    return data;
}

// A record's checksum as the file stores it.
std::uint8_t RecordChecksum(std::uint32_t address, const Bytes& data) {
    int sum = static_cast<int>(data.size()) + static_cast<int>(address >> 16) +
              static_cast<int>((address >> 8) & 0xFF) + static_cast<int>(address & 0xFF);
    for (std::uint8_t b : data) {
        sum += b;
    }
    return static_cast<std::uint8_t>(-sum);
}

// One expected message with the pause that must stand before it.
struct Step {
    Bytes message;
    int pauseBeforeMs;
};

class TransferTest : public LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        m_bus = std::make_unique<PtyBus>(kComPort);
        m_engine = std::make_unique<CTransferEngine>(&m_doc, &m_notify);
        // The worker calls the listener until the engine's destructor has joined it, which is
        // after m_engine has let go of the engine: the listener holds the engine itself.
        m_engine->SetStateListener([this, engine = m_engine.get()] {
            std::lock_guard guard(m_statesLock);
            m_states.push_back(engine->m_nState);
        });
    }
    void TearDown() override {
        m_engine.reset();
        m_bus.reset();
    }

    std::string WriteFile(const kfw::FirmwareHeader& header, const Bytes& data, int recordLength,
                          std::uint32_t startAddress = 0) {
        const std::string path = m_configDir.filePath("image.kfw").toStdString();
        kfw::KfwWriteOptions options;
        options.recordLength = recordLength;
        options.startAddress = startAddress;
        EXPECT_TRUE(kfw::WriteFirmwareFile(path, header, data, options));
        return path;
    }

    // Starts a run and handles events until its worker has ended.
    void RunToEnd(const std::string& path, int timeoutMs = 30000) {
        std::string info;
        const size_t before = States().size();
        ASSERT_EQ(m_engine->StartStop(path, info), 1);
        ASSERT_TRUE(RunEventsUntil([&] { return !m_engine->IsWorkerRunning(); }, timeoutMs));
        // The start shows "Programming"; the worker's end shows the outcome.
        const auto states = States();
        ASSERT_EQ(states.size(), before + 2);
        EXPECT_EQ(states[before], CTransferEngine::StateProgramming);
        EXPECT_EQ(states.back(), m_engine->m_nState);
    }

    // Matches the messages seen against the expected steps, byte for byte,
    // with the pause before each. The loader writes a message again when its
    // echo is not handled within 50 ms, which a busy machine can cause: a copy
    // equal to the one before it, where the next step expects something else,
    // is taken as such a repeat.
    void ExpectSequence(const std::vector<Step>& steps) {
        const auto seen = m_bus->Messages();
        size_t step = 0;
        int repeats = 0;
        std::int64_t previousEnd = 0;
        bool previousRepeated = false;
        Bytes seenRaw;
        for (size_t j = 0; j < seen.size(); ++j) {
            seenRaw.insert(seenRaw.end(), seen[j].bytes.begin(), seen[j].bytes.end());
            if (step < steps.size() && seen[j].bytes == steps[step].message) {
                if (step > 0) {
                    // After a repeat the echo that let the loader go on may be
                    // that of the earlier copy (see kReadLatencyNs).
                    const std::int64_t allowance = previousRepeated ? kReadLatencyNs : 0;
                    EXPECT_GE(seen[j].firstByteNs - previousEnd,
                              steps[step].pauseBeforeMs * kMs - allowance)
                        << "pause before step " << step;
                }
                previousEnd = seen[j].lastByteNs;
                previousRepeated = false;
                ++step;
            } else if (j > 0 && seen[j].bytes == seen[j - 1].bytes) {
                ++repeats;
                previousEnd = seen[j].lastByteNs;
                previousRepeated = true;
            } else {
                ADD_FAILURE() << "message " << j << " is not step " << step;
                return;
            }
        }
        EXPECT_EQ(step, steps.size());
        // Nothing but whole messages went over the line.
        EXPECT_EQ(m_bus->RawBytes(), seenRaw);
        if (repeats > 0) {
            RecordProperty("repeated_writes", repeats);
        }
    }

    // The messages seen from `from` on, with repeated copies taken once. For
    // sequences in which no message follows an equal one.
    std::vector<BusMessageSeen> SeenWithoutRepeats(size_t from = 0) const {
        const auto seen = m_bus->Messages();
        std::vector<BusMessageSeen> result;
        for (size_t j = from; j < seen.size(); ++j) {
            if (result.empty() || j == from || seen[j].bytes != seen[j - 1].bytes) {
                result.push_back(seen[j]);
            }
        }
        return result;
    }

    std::unique_ptr<PtyBus> m_bus;
    std::unique_ptr<CTransferEngine> m_engine;
    std::vector<int> States() {
        std::lock_guard guard(m_statesLock);
        return m_states;
    }

    std::mutex m_statesLock;
    std::vector<int> m_states; // every state set, in order
};

TEST_F(TransferTest, RecordTimingWithSixteenByteRecords) {
    kfw::FirmwareHeader header;
    header.product = 12;
    header.hardware = 1;
    header.software = 0x11;
    header.lastAddress = 100; // one erase block of the default 1024 bytes
    const Bytes data = Counting(32, 0x70);
    const std::string path = WriteFile(header, data, 16, 0x012340);
    RunToEnd(path);

    const Bytes setup = Ipl(IplSetup, {255, 12, 1, 0x11, 0, 0, 1, 0});
    ExpectSequence({
        {setup, 0},
        {Ipl(IplAddress, {0x01, 0x23, 0x40}), 100},
        {Ipl(IplData, Bytes(data.begin(), data.begin() + 8)), 5},
        {Ipl(IplData, Bytes(data.begin() + 8, data.begin() + 16)), 0},
        {Ipl(IplAddress, {0x01, 0x23, 0x50}), 0},
        {Ipl(IplData, Bytes(data.begin() + 16, data.begin() + 24)), 5},
        {Ipl(IplData, Bytes(data.begin() + 24, data.end())), 0},
        {Ipl(IplEnd, {}), 0},
    });
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(m_engine->m_bFailed, 0);
    EXPECT_EQ(m_engine->m_bBusy, 0);
    EXPECT_EQ(m_engine->m_nImageLength, 2 * 22 + 1);
    EXPECT_EQ(m_engine->m_nProgress, m_engine->m_nImageLength - 1);
    EXPECT_FALSE(m_doc.IsPortOpen());
}

TEST_F(TransferTest, TwelveByteRecordsSendTheBytesThatFollowInTheirLastDataMessage) {
    kfw::FirmwareHeader header;
    // A larger image first, so that its bytes still lie past the end of the
    // smaller one in the buffer.
    std::string info;
    ASSERT_EQ(
        m_engine->LoadFirmwareFile(WriteFile(header, Counting(200, 0x31), 12, 0x5A5A00), info), 0);
    const Bytes data = Counting(24, 0xF0); // crosses 0xFF, so high bits travel as flags
    const std::string path = WriteFile(header, data, 12, 0x001000);
    RunToEnd(path);

    const Bytes first(data.begin(), data.begin() + 12);
    const Bytes second(data.begin() + 12, data.end());
    // Bytes 9..12, the record's checksum, then the next record's length and
    // address bytes 23..16 and 15..8.
    Bytes tail1(first.begin() + 8, first.end());
    tail1.insert(tail1.end(), {RecordChecksum(0x001000, first), 12, 0x00, 0x10});
    // The last record is followed by the end record and then nothing: the
    // bytes past the image go as 0.
    Bytes tail2(second.begin() + 8, second.end());
    tail2.insert(tail2.end(), {RecordChecksum(0x00100C, second), 0, 0, 0});
    ExpectSequence({
        {Ipl(IplSetup, {255, 0, 0, 0, 0, 0, 0, 0}), 0},
        {Ipl(IplAddress, {0x00, 0x10, 0x00}), 100},
        {Ipl(IplData, Bytes(first.begin(), first.begin() + 8)), 5},
        {Ipl(IplData, tail1), 0},
        {Ipl(IplAddress, {0x00, 0x10, 0x0C}), 0},
        {Ipl(IplData, Bytes(second.begin(), second.begin() + 8)), 5},
        {Ipl(IplData, tail2), 0},
        {Ipl(IplEnd, {}), 0},
    });
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
}

TEST_F(TransferTest, ImageWithOnlyAnEndRecordSendsSetupAndEnd) {
    kfw::FirmwareHeader header;
    const std::string path = WriteFile(header, {}, 16);
    RunToEnd(path);
    ExpectSequence({{Ipl(IplSetup, {255, 0, 0, 0, 0, 0, 0, 0}), 0}, {Ipl(IplEnd, {}), 100}});
    EXPECT_EQ(m_engine->m_nImageLength, 1);
    EXPECT_EQ(m_engine->m_nProgress, 0);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
}

TEST_F(TransferTest, BlockTimingEraseExampleAndProgrammingPauses) {
    kfw::FirmwareHeader header;
    header.product = 12;
    header.hardware = 1;
    header.software = 0x11;
    header.options = 2;
    header.firstAddress = 0;
    header.lastAddress = 4096;
    header.eraseDly = 25;
    header.progBlk = 32;
    header.delay = 30;
    const Bytes data = Counting(64);
    const std::string path = WriteFile(header, data, 16, 0x001000);
    RunToEnd(path);

    EXPECT_EQ(m_engine->m_header.eraseBlk, 1024);
    const Bytes setup = Ipl(IplSetup, {255, 12, 1, 0x11, 2, 0, 4, 0});
    EXPECT_EQ(setup, (Bytes{0xE5, 0x10, 0x7F, 0x7F, 0x7F, 0x41, 0x7F, 0x0C, 0x01, 0x11, 0x00, 0x02,
                            0x00, 0x04, 0x00, 0x51}));
    std::vector<Step> steps = {{setup, 0}, {setup, 35}};
    for (int record = 0; record < 4; ++record) {
        // Sleep 100 and four erase blocks of 25 ms before the first record;
        // a pause of 30 ms after every second record (32 bytes programmed).
        const int pause = record == 0 ? 200 : (record == 2 ? 30 : 0);
        const auto address = static_cast<std::uint8_t>(record * 16);
        steps.push_back({Ipl(IplAddress, {0x00, 0x10, address}), pause});
        const auto at = data.begin() + record * 16;
        steps.push_back({Ipl(IplData, Bytes(at, at + 8)), 1});
        steps.push_back({Ipl(IplData, Bytes(at + 8, at + 16)), 0});
    }
    steps.push_back({Ipl(IplEnd, {}), 30});
    ExpectSequence(steps);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(m_engine->m_nProgress, 4 * 22);
}

TEST_F(TransferTest, RecordTimingPausesWithDelayClampedTo250) {
    kfw::FirmwareHeader header;
    header.delay = 300;
    const Bytes data = Counting(32);
    const std::string path = WriteFile(header, data, 16);
    RunToEnd(path);
    const Bytes setup = Ipl(IplSetup, {255, 0, 0, 0, 0, 0, 0, 0});
    // 8 ms after every data message; 250 + 50 ms more after every record.
    ExpectSequence({
        {setup, 0},
        {Ipl(IplAddress, {0, 0, 0}), 100},
        {Ipl(IplData, Bytes(data.begin(), data.begin() + 8)), 5},
        {Ipl(IplData, Bytes(data.begin() + 8, data.begin() + 16)), 8},
        {Ipl(IplAddress, {0, 0, 16}), 8 + 300},
        {Ipl(IplData, Bytes(data.begin() + 16, data.begin() + 24)), 5},
        {Ipl(IplData, Bytes(data.begin() + 24, data.end())), 8},
        {Ipl(IplEnd, {}), 8 + 300},
    });
}

TEST_F(TransferTest, NoEchoFailsRecordTimingAfterSixSetupWrites) {
    m_bus->SetEchoDelayMs(-1);
    kfw::FirmwareHeader header;
    std::string info;
    ASSERT_EQ(m_engine->StartStop(WriteFile(header, Counting(16), 16), info), 1);
    // No discovery request may land among the download's messages.
    EXPECT_EQ(m_doc.SendDiscover(0), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return !m_engine->IsWorkerRunning(); }, 10000));
    EXPECT_EQ(m_bus->Messages().size(), 6u);
    EXPECT_EQ(m_engine->m_bFailed, 1);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateFailed);
    EXPECT_TRUE(m_doc.IsPortOpen()); // a failed run leaves the port open
    EXPECT_EQ(m_doc.SendDiscover(0), 1);
}

TEST_F(TransferTest, NoEchoFailsBlockTimingAfterThreeSetupAttempts) {
    m_bus->SetEchoDelayMs(-1);
    kfw::FirmwareHeader header;
    header.options = 2;
    RunToEnd(WriteFile(header, Counting(16), 16));
    const auto seen = m_bus->Messages();
    ASSERT_EQ(seen.size(), 18u);
    for (const auto& message : seen) {
        EXPECT_EQ(message.bytes, seen[0].bytes);
    }
    // Unechoed copies: the stand-in may read one late (see kReadLatencyNs).
    EXPECT_GE(seen[6].firstByteNs - seen[5].lastByteNs, (50 + 35) * kMs - kReadLatencyNs);
    EXPECT_GE(seen[12].firstByteNs - seen[11].lastByteNs, (50 + 300) * kMs - kReadLatencyNs);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateFailed);
}

TEST_F(TransferTest, BlockTimingGoesOnWhenTheThirdSetupIsConfirmed) {
    m_bus->SetEchoFilter([](int index, const BusMessageSeen&) { return index >= 12; });
    kfw::FirmwareHeader header;
    header.options = 2;
    const Bytes data = Counting(16);
    RunToEnd(WriteFile(header, data, 16));
    const auto all = m_bus->Messages();
    ASSERT_GE(all.size(), 12u);
    const auto seen = SeenWithoutRepeats(12);
    ASSERT_EQ(seen.size(), 1u + 1 + 2 + 1);
    EXPECT_EQ(seen[0].bytes, all[0].bytes);
    EXPECT_EQ(seen[1].bytes, Ipl(IplAddress, {0, 0, 0}));
    EXPECT_EQ(seen.back().bytes, Ipl(IplEnd, {}));
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
}

TEST_F(TransferTest, StopDuringARecordFinishesItThenSendsEndAfter200Ms) {
    m_bus->SetEchoDelayMs(3);
    kfw::FirmwareHeader header;
    const Bytes data = Counting(64 * 8);
    const std::string path = WriteFile(header, data, 64);
    std::string info;
    ASSERT_EQ(m_engine->StartStop(path, info), 1);
    // Setup, address, first data message: the first record is under way.
    ASSERT_TRUE(RunEventsUntil([&] { return m_bus->Messages().size() >= 3; }, 10000));
    EXPECT_EQ(m_engine->StartStop(path, info), 0); // the stop request
    EXPECT_EQ(m_engine->m_bBusy, 0);
    ASSERT_TRUE(RunEventsUntil([&] { return !m_engine->IsWorkerRunning(); }, 10000));

    const auto seen = SeenWithoutRepeats();
    // Setup, at least one whole record (address and eight data), end.
    ASSERT_GE(seen.size(), 1u + 1 + 8 + 1);
    EXPECT_EQ(seen.back().bytes, Ipl(IplEnd, {}));
    EXPECT_GE(seen.back().firstByteNs - seen[seen.size() - 2].lastByteNs, 200 * kMs);
    // Every record begun was finished: each address is followed by 8 data
    // messages, and fewer than all records went out.
    size_t addresses = 0;
    for (size_t i = 1; i + 1 < seen.size(); i += 9) {
        EXPECT_EQ(seen[i].bytes[10] & 0x70, IplAddress) << i;
        for (size_t k = 1; k <= 8; ++k) {
            ASSERT_LT(i + k, seen.size() - 1);
            EXPECT_EQ(seen[i + k].bytes[10] & 0x70, IplData) << i + k;
        }
        ++addresses;
    }
    EXPECT_EQ(seen.size(), 2 + addresses * 9);
    EXPECT_LT(addresses, 8u);
    EXPECT_EQ(m_engine->m_nProgress, static_cast<int>(addresses * 70));
    EXPECT_EQ(m_engine->m_bFailed, 1);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateFailed);
}

TEST_F(TransferTest, StartIsRefusedUntilAStoppedRunHasEnded) {
    m_bus->SetEchoDelayMs(3);
    const std::string path = WriteFile({}, Counting(64 * 4), 64);
    std::string info;
    ASSERT_EQ(m_engine->StartStop(path, info), 1);
    ASSERT_TRUE(RunEventsUntil([&] { return m_bus->Messages().size() >= 2; }, 10000));
    EXPECT_EQ(m_engine->StartStop(path, info), 0); // stop
    EXPECT_EQ(m_engine->StartStop(path, info), 0); // refused: the run still ends
    EXPECT_EQ(m_engine->LoadFirmwareFile(path, info), -1);
    ASSERT_TRUE(RunEventsUntil([&] { return !m_engine->IsWorkerRunning(); }, 10000));
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateFailed);
    EXPECT_EQ(m_engine->StartStop(path, info), 1); // a new run starts now
    ASSERT_TRUE(RunEventsUntil([&] { return !m_engine->IsWorkerRunning(); }, 30000));
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
}

TEST_F(TransferTest, MissingPortGivesPortFailed) {
    m_doc.m_ActiveComPort = 40;
    RunToEnd(WriteFile({}, Counting(16), 16));
    EXPECT_EQ(m_engine->m_bPortFailed, 1);
    EXPECT_EQ(m_engine->m_bFailed, 0);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StatePortFailed);
    EXPECT_TRUE(m_bus->Messages().empty());

    // The next run clears the port failure.
    m_doc.m_ActiveComPort = kComPort;
    RunToEnd(WriteFile({}, Counting(16), 16));
    EXPECT_EQ(m_engine->m_bPortFailed, 0);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateReady);
}

TEST_F(TransferTest, FileThatDoesNotLoadStartsNothing) {
    std::string info;
    EXPECT_EQ(m_engine->StartStop(m_configDir.filePath("missing.kfw").toStdString(), info), 0);
    EXPECT_EQ(m_engine->m_bFileValid, 0);
    EXPECT_EQ(m_engine->m_nState, CTransferEngine::StateNoFile);
    EXPECT_FALSE(m_engine->IsWorkerRunning());
}

TEST_F(TransferTest, ImageWithoutAnEndRecordFailsBeforeSendingAnything) {
    std::string info;
    ASSERT_EQ(m_engine->LoadFirmwareFile(WriteFile({}, Counting(40), 16), info), 0);
    const int full = m_engine->m_nImageLength;
    // As in a run: the port open and the run wanted, so that only the check
    // of the image keeps the messages of the whole buffer off the bus.
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    m_engine->m_bBusy = 1;
    for (int cut : {1, 2, 23}) { // no end record; a truncated record
        m_engine->m_nImageLength = full - cut;
        EXPECT_EQ(m_engine->TransferImage(), 0) << cut;
    }
    m_engine->m_nImageLength = 0;
    EXPECT_EQ(m_engine->TransferImage(), 0);
    m_engine->m_bBusy = 0;
    RunEventsFor(20); // anything written would reach the stand-in meanwhile
    m_doc.ClosePort();
    EXPECT_TRUE(m_bus->Messages().empty());
}

TEST(TransferEngineState, FirstMatchingRuleGivesTheState) {
    CKelvloadDoc doc;
    CTransferEngine engine(&doc, nullptr);
    struct Case {
        int fileValid, busy, failed, portFailed, state;
    };
    const Case cases[] = {
        {0, 1, 1, 1, 1}, {1, 1, 1, 1, 3}, {1, 0, 1, 1, 4}, {1, 0, 0, 1, 2}, {1, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        engine.m_bFileValid = c.fileValid;
        engine.m_bBusy = c.busy;
        engine.m_bFailed = c.failed;
        engine.m_bPortFailed = c.portFailed;
        engine.UpdateState();
        EXPECT_EQ(engine.m_nState, c.state);
    }
    engine.m_bBusy = 0;
}

} // namespace
