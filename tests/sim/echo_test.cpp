// The bus interface's echo, driven in-process with made-up times: what comes back, when, and
// what each fault option does to it.

#include "busproto/checksum.h"
#include "tests/sim/sim_test_support.h"

using namespace simtest;

namespace {

constexpr int kRate = 16457;

// Wire times are whole nanoseconds per character; allow their rounding.
void ExpectAround(Nanos actual, Nanos expected) {
    EXPECT_NEAR(static_cast<double>(actual), static_cast<double>(expected), 1000.0);
}

// Writes `count` distinct IplMessages 100 ms apart and returns which of them came back intact.
std::vector<int> EchoedOf(SimHarness& h, int count) {
    std::vector<Bytes> written;
    for (int i = 0; i < count; ++i) {
        written.push_back(Ipl(IplData, {static_cast<std::uint8_t>(i), 0x55}));
        h.Write(Ms(100) * i, written.back());
    }
    h.RunUntil(Ms(100) * count + Ms(100));
    std::vector<int> echoed;
    for (const Sent& s : h.TakeSent())
        for (int i = 0; i < count; ++i)
            if (s.bytes == written[static_cast<std::size_t>(i)])
                echoed.push_back(i + 1);
    return echoed;
}

} // namespace

TEST(Echo, ComesBackUnchangedAfterTheWireTimeAtTheProgramsRate) {
    for (int rate : {9600, kRate, 115200, 256000}) {
        SimHarness h({}, rate);
        const Bytes message = Ipl(IplAddress, {0x01, 0x23, 0x40});
        h.Write(Ms(5), message);
        h.RunUntil(Ms(5) + CharTimes(16, rate) - 2000);
        EXPECT_TRUE(h.TakeSent().empty()) << "echo before the message left the line at " << rate;
        h.RunUntil(Ms(200));
        const auto sent = h.TakeSent();
        ASSERT_EQ(sent.size(), 1u) << rate;
        EXPECT_EQ(sent[0].bytes, message);
        ExpectAround(sent[0].at, Ms(5) + CharTimes(16, rate));
        EXPECT_EQ(h.Raw(), message) << "nothing but the echo";
    }
}

TEST(Echo, ShortMessagesAndSplitWritesAreEchoedWhenComplete) {
    SimHarness h({}, kRate);
    const Bytes twoByte = {0x83, 0x7C};
    const Bytes fourByte = {0xA1, 0x10, 0x20,
                            static_cast<std::uint8_t>(~(0xA1 ^ 0x10 ^ 0x20) & 0xFF)};
    Bytes both = twoByte;
    both.insert(both.end(), fourByte.begin(), fourByte.end());
    h.Write(0, both);
    // A long message written in two parts, the second 20 ms later.
    const Bytes ipl = Ipl(IplEnd);
    h.Write(Ms(50), Bytes(ipl.begin(), ipl.begin() + 7));
    h.Write(Ms(70), Bytes(ipl.begin() + 7, ipl.end()));
    h.RunUntil(Ms(200));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bytes, twoByte);
    ExpectAround(sent[0].at, CharTimes(2, kRate));
    EXPECT_EQ(sent[1].bytes, fourByte);
    ExpectAround(sent[1].at, CharTimes(6, kRate)); // back to back behind the first
    EXPECT_EQ(sent[2].bytes, ipl);
    ExpectAround(sent[2].at, Ms(70) + CharTimes(9, kRate)); // after the last part
}

TEST(Echo, OnlyCompleteValidMessagesAreEchoed) {
    SimHarness h({}, kRate);
    Bytes bad = Ipl(IplData, {1, 2, 3});
    bad[15] ^= 0x01; // wrong checksum
    h.Write(0, bad);
    h.Write(Ms(20), Hex("11 22 33 7F"));                   // no opcode at all
    h.Write(Ms(40), Bytes(bad.begin(), bad.begin() + 10)); // cut short ...
    const Bytes good = Ipl(IplData, {4, 5, 6});            // ... by the next opcode
    h.Write(Ms(41), good);
    h.RunUntil(Ms(300));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, good);
    EXPECT_EQ(h.Raw(), good);
}

TEST(Echo, WireTimeEmulationCanBeSwitchedOffAndDelayAdds) {
    SimConfig noWire;
    noWire.wireTime = false;
    SimHarness h(noWire, kRate);
    h.Write(Ms(3), Ipl(IplEnd));
    h.RunUntil(Ms(3));
    auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].at, Ms(3));

    SimConfig delayed;
    delayed.faults.delay = Ms(20);
    SimHarness d(delayed, kRate);
    d.Write(0, Ipl(IplEnd));
    d.RunUntil(Ms(20) + CharTimes(16, kRate) - 2000);
    EXPECT_TRUE(d.TakeSent().empty());
    d.RunUntil(Ms(100));
    sent = d.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    ExpectAround(sent[0].at, Ms(20) + CharTimes(16, kRate));
}

TEST(Echo, DropOptionsWithholdExactlyTheEchoesTheyName) {
    SimConfig first;
    first.faults.dropFirst = 2;
    SimHarness a(first);
    EXPECT_EQ(EchoedOf(a, 5), (std::vector<int>{3, 4, 5}));
    EXPECT_TRUE(a.LogHas("echo 2 withheld (drop-first)"));

    SimConfig every;
    every.faults.dropEvery = 3;
    SimHarness b(every);
    EXPECT_EQ(EchoedOf(b, 7), (std::vector<int>{1, 2, 4, 5, 7}));

    SimConfig both;
    both.faults.dropFirst = 1;
    both.faults.dropEvery = 2;
    SimHarness c(both);
    EXPECT_EQ(EchoedOf(c, 5), (std::vector<int>{3, 5}));

    SimConfig none;
    none.faults.none = true;
    none.devices.push_back({.product = 12});
    SimHarness n(none);
    EXPECT_TRUE(EchoedOf(n, 3).empty());
    n.Write(Ms(1000), Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08"));
    n.RunUntil(Ms(2000));
    EXPECT_TRUE(n.Raw().empty()) << "no echo and no device answers a request that did not go out";
}

TEST(Echo, CorruptOptionChangesOneByteOfThatEchoOnly) {
    SimConfig config;
    config.faults.corruptNth = 2;
    SimHarness h(config);
    const Bytes second = Ipl(IplData, {1, 0x55});
    h.Write(0, Ipl(IplData, {0, 0x55}));
    h.Write(Ms(100), second);
    h.Write(Ms(200), Ipl(IplData, {2, 0x55}));
    h.RunUntil(Ms(400));
    // The assembler dropped the corrupted echo: only 1 and 3 came back valid.
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, Ipl(IplData, {0, 0x55}));
    EXPECT_EQ(sent[1].bytes, Ipl(IplData, {2, 0x55}));
    // On the line, the second echo stands with exactly one byte changed, still framed.
    ASSERT_EQ(h.Raw().size(), 48u);
    const Bytes corrupted(h.Raw().begin() + 16, h.Raw().begin() + 32);
    int differing = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        differing += corrupted[i] != second[i];
        if (i > 0) {
            EXPECT_LT(corrupted[i], 0x80) << "byte " << i << " would break the framing";
        }
    }
    EXPECT_EQ(differing, 1);
    EXPECT_NE(ComputeChecksum(16, corrupted.data()), 0);
}

TEST(Echo, BusyAfterSetupWithholdsEchoesForThatLong) {
    SimConfig config;
    config.faults.busyAfterSetup = Ms(200);
    SimHarness h(config);
    const Bytes setup = Ipl(IplSetup, {255, 12, 1, 0x11, 0, 0, 1, 0});
    h.Write(0, setup);
    h.Write(Ms(100), Ipl(IplAddress, {0, 0x10, 0}));
    h.Write(Ms(150), Ipl(IplAddress, {0, 0x10, 0}));
    h.Write(Ms(300), Ipl(IplAddress, {0, 0x10, 0}));
    h.RunUntil(Ms(500));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, setup);
    EXPECT_GE(sent[1].at, Ms(300)) << "the write after the busy time is echoed";
    EXPECT_TRUE(h.LogHas("boot loader busy for 200 ms"));
}

TEST(Echo, NothingQueuedSurvivesTheProgramClosingItsSide) {
    SimConfig config;
    config.faults.delay = Ms(50);
    SimHarness h(config);
    h.Write(0, Ipl(IplEnd));
    h.Sim().PortClosed();
    h.Sim().PortOpened(Ms(10));
    h.RunUntil(Ms(500));
    EXPECT_TRUE(h.Raw().empty());
    EXPECT_EQ(h.Sim().NextDue(), kNever);
}
