// Made-up traffic for the monitor: message classes, bad checksums, noise, load, bursts and the
// replay of capture files.

#include "tests/sim/sim_test_support.h"
#include "tools/sim/traffic.h"

#include <set>

using namespace simtest;

namespace {

struct Assembled {
    int valid = 0;
    std::set<int> classes; // bits 7..5 of the opcodes of valid messages
    int opcodes = 0;
};

Assembled Assemble(const Bytes& bytes) {
    Assembled a;
    CRxAssembler rx;
    for (std::uint8_t b : bytes) {
        a.opcodes += (b & 0x80) != 0;
        if (rx.Step(b)) {
            ++a.valid;
            a.classes.insert(rx.m_rxBuf[0] >> 5);
        }
    }
    return a;
}

} // namespace

TEST(Traffic, MessagesOfAllFourClassesAreValid) {
    TrafficConfig config;
    CTraffic traffic(config);
    Bytes bytes;
    for (int i = 0; i < 2000; ++i)
        traffic.AppendMessage(bytes);
    const Assembled a = Assemble(bytes);
    EXPECT_EQ(a.valid, 2000);
    EXPECT_EQ(a.opcodes, 2000) << "no byte but the opcode has bit 7 set";
    EXPECT_EQ(a.classes, (std::set<int>{4, 5, 6, 7}));
}

TEST(Traffic, BadChecksumShareAndNoiseAreAsAsked) {
    TrafficConfig bad;
    bad.badPercent = 25;
    bad.seed = 7;
    CTraffic badTraffic(bad);
    Bytes bytes;
    for (int i = 0; i < 4000; ++i)
        badTraffic.AppendMessage(bytes);
    const Assembled a = Assemble(bytes);
    EXPECT_EQ(a.opcodes, 4000);
    EXPECT_GT(a.valid, 4000 * 65 / 100);
    EXPECT_LT(a.valid, 4000 * 85 / 100);

    TrafficConfig noisy;
    noisy.noisePercent = 50;
    CTraffic noisyTraffic(noisy);
    Bytes withNoise;
    std::size_t messageBytes = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::size_t before = withNoise.size();
        noisyTraffic.AppendMessage(withNoise);
        // The message is the tail of what was appended: its opcode is the last byte with bit 7.
        std::size_t opcode = withNoise.size() - 1;
        while (!(withNoise[opcode] & 0x80))
            --opcode;
        messageBytes += withNoise.size() - opcode;
        EXPECT_GE(opcode, before);
    }
    const std::size_t noise = withNoise.size() - messageBytes;
    EXPECT_GT(noise, 500u) << "about half of 1000 messages with 1 to 4 noise bytes";
    EXPECT_LT(noise, 2000u);
    // Noise costs a message only when it fills the receive buffer before the next opcode.
    EXPECT_GE(Assemble(withNoise).valid, 950);
}

TEST(Traffic, LoadFollowsThePercentageAtTheLinesRate) {
    for (int rate : {1200, 16457, 115200, 256000}) {
        for (int load : {100, 50, 10}) {
            SimConfig config;
            config.traffic.loadPercent = load;
            SimHarness h(config, rate);
            const int seconds = rate < 20000 ? 20 : 2; // enough messages at every rate
            h.RunUntil(Ms(1000) * seconds);
            const double perSecond = static_cast<double>(h.Raw().size()) / seconds;
            const double expected = rate / 10.0 * load / 100.0;
            EXPECT_GT(perSecond, expected * 0.9) << rate << " bit/s at " << load << "%";
            EXPECT_LT(perSecond, expected * 1.1) << rate << " bit/s at " << load << "%";
        }
    }
}

TEST(Traffic, TheLineIsNeverOverbooked) {
    SimConfig config;
    config.traffic.loadPercent = 100;
    SimHarness h(config, 19200);
    // Echoes share the line with the traffic; every byte still gets its time.
    std::vector<Bytes> written;
    for (int i = 0; i < 10; ++i) {
        written.push_back(Ipl(IplData, {static_cast<std::uint8_t>(i)}));
        h.Write(Ms(50) * i, written.back());
    }
    h.RunUntil(Ms(1000));
    EXPECT_LE(static_cast<double>(h.Raw().size()), 1920.0 + 25);
    std::size_t echoes = 0;
    for (const Sent& s : h.TakeSent())
        if (echoes < written.size() && s.bytes == written[echoes])
            ++echoes;
    EXPECT_EQ(echoes, written.size()) << "every echo, in order";
}

TEST(Traffic, BurstsComeBackToBack) {
    SimConfig config;
    config.traffic.burstCount = 5;
    config.traffic.burstEvery = Ms(100);
    SimHarness h(config, 115200);
    h.RunUntil(Ms(99));
    EXPECT_TRUE(h.Raw().empty());
    h.RunUntil(Ms(150));
    EXPECT_EQ(h.TakeSent().size(), 5u);
    h.RunUntil(Ms(350));
    EXPECT_EQ(h.TakeSent().size(), 10u);
}

TEST(Traffic, CaptureTextIsReadWithAndWithoutTimeStamps) {
    const std::string text = "#0001 = 12/6/2026 18:48:50.12 - 83 7C \r\n"
                             "A1 10 20 6E \r\n"
                             "\r\n"
                             "00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 \r\n";
    std::vector<Bytes> lines;
    std::string error;
    ASSERT_TRUE(ParseCaptureText(text, lines, error)) << error;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], Hex("83 7C"));
    EXPECT_EQ(lines[1], Hex("A1 10 20 6E"));
    ASSERT_EQ(lines[2].size(), 20u);
    EXPECT_EQ(lines[2][10], 0x0A);

    for (const char* bad : {"83 7G\n", "#0001 83 7C\n", "83 7C0\n"}) {
        lines.clear();
        EXPECT_FALSE(ParseCaptureText(std::string("83 7C\n") + bad, lines, error)) << bad;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
    }
}

TEST(Traffic, ReplaySendsTheLinesInOrderWithTheirGap) {
    SimConfig config;
    config.traffic.replayLines = {Hex("83 7C"), Hex("01 02 03"), Hex("A1 10 20 6E")};
    config.traffic.replayGap = Ms(30);
    config.wireTime = false;
    SimHarness h(config);
    h.RunUntil(Ms(29));
    EXPECT_EQ(h.Raw(), Hex("83 7C"));
    h.RunUntil(Ms(59));
    EXPECT_EQ(h.Raw(), Hex("83 7C 01 02 03"));
    h.RunUntil(Ms(500));
    EXPECT_EQ(h.Raw(), Hex("83 7C 01 02 03 A1 10 20 6E"));
    EXPECT_TRUE(h.LogHas("replay: 3 lines sent"));
    EXPECT_EQ(h.Sim().NextDue(), kNever);
}
