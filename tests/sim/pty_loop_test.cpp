// The test bus's loop over a real pseudo-terminal: the line format read back from the master,
// the echo and replies with their wire time, and the program opening and closing its side.

#include "tests/sim/pty_sim.h"

using namespace simtest;

namespace {

const Bytes kDiscoverAll = Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08");

Nanos Elapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                since)
        .count();
}

} // namespace

TEST(PtyLoop, TheMasterReadsTheFormatTheProgramSet) {
    std::string path, error;
    const int master = OpenPseudoTerminal(path, error);
    ASSERT_GE(master, 0) << error;
    {
        ProgramSide program(path, 16457);
        LineFormat line;
        ASSERT_TRUE(ReadLineFormat(master, &line));
        EXPECT_EQ(line.bitRate, 16457);
        EXPECT_EQ(line.bitsPerChar, 10);

        termios tio{};
        ASSERT_EQ(tcgetattr(program.Fd(), &tio), 0);
        tio.c_cflag |= CSTOPB; // (a pseudo-terminal keeps no parity)
        ASSERT_EQ(tcsetattr(program.Fd(), TCSANOW, &tio), 0);
        ASSERT_TRUE(SetLineBitRate(program.Fd(), 115200));
        ASSERT_TRUE(ReadLineFormat(master, &line));
        EXPECT_EQ(line.bitRate, 115200);
        EXPECT_EQ(line.bitsPerChar, 11);
        EXPECT_EQ(line.WireTime(12), 12 * 11 * 1'000'000'000LL / 115200);
    }
    close(master);
    LineFormat none;
    EXPECT_FALSE(ReadLineFormat(-1, &none));
}

TEST(PtyLoop, EchoAndRepliesComeBackOverTheLineAfterTheirWireTime) {
    SimConfig config;
    config.devices.push_back({.product = 12, .serial = 0x019234});
    CSimThread bus(config);
    for (int rate : {16457, 9600}) {
        ProgramSide program(bus.Path(), rate);
        const auto start = std::chrono::steady_clock::now();
        program.Write(kDiscoverAll);
        const Bytes echo = program.Read(20, 5000);
        const Nanos echoTime = Elapsed(start);
        EXPECT_EQ(echo, kDiscoverAll) << rate;
        EXPECT_GE(echoTime, CharTimes(20, rate)) << "the echo comes after the message's wire time";
        const Bytes reply = program.Read(20, 5000);
        ASSERT_EQ(reply.size(), 20u);
        EXPECT_GE(Elapsed(start), 2 * CharTimes(20, rate));
        std::uint8_t group = 0, code = 0, data[12];
        ASSERT_TRUE(DecodeDeviceMessage(reply.data(), 20, &group, &code, data));
        EXPECT_EQ(DeviceInfoFromPayload(data).serial, 0x019234u);
        EXPECT_TRUE(bus.LogHas("line: " + std::to_string(rate) + " bit/s"));
        program.Close();
        ASSERT_TRUE(bus.AwaitLog("port closed by the program", 5000));
    }
}

TEST(PtyLoop, ItFollowsTheProgramClosingAndReopeningItsSide) {
    SimConfig config;
    config.ping.every = Ms(10);
    config.wireTime = false;
    CSimThread bus(config);
    for (int round = 1; round <= 3; ++round) {
        // Closed for a while: the pings that would have come meanwhile are not kept for later.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ProgramSide program(bus.Path(), 19200);
        ASSERT_TRUE(bus.AwaitLogCount("port opened by the program", round, 5000));
        int pings = 0;
        CRxAssembler rx;
        for (std::uint8_t b : program.Read(1000, 35))
            pings += rx.Step(b) && rx.m_nRxCount == 20 && rx.m_rxBuf[2] == kPingGroup;
        EXPECT_GE(pings, 1) << "round " << round;
        EXPECT_LE(pings, 6) << "round " << round << ": only what was due since the opening";
        // The echo arrives amid the pings; find it whole.
        program.Write(Ipl(IplEnd));
        bool echoed = false;
        for (std::uint8_t b : program.Read(1000, 100))
            echoed = echoed || (rx.Step(b) && rx.m_nRxCount == 16);
        EXPECT_TRUE(echoed) << "round " << round;
        program.Close();
        ASSERT_TRUE(bus.AwaitLogCount("port closed by the program", round, 5000));
    }
}

TEST(PtyLoop, WithTheWireQueueTheProgramsBytesWaitInTheTerminalAsInAnAdaptersQueue) {
    constexpr int kRate = 9600;
    SimConfig config;
    config.wireQueue = true;
    CSimThread bus(config);
    ProgramSide program(bus.Path(), kRate);
    ASSERT_TRUE(bus.AwaitLog("port opened by the program", 5000));

    // A request behind 300 bytes of noise still has its echo, after all of them went out.
    Bytes bytes(300, 0x00);
    bytes.insert(bytes.end(), kDiscoverAll.begin(), kDiscoverAll.end());
    const auto start = std::chrono::steady_clock::now();
    program.Write(bytes);
    EXPECT_EQ(program.Read(20, 5000), kDiscoverAll);
    EXPECT_GE(Elapsed(start), CharTimes(bytes.size(), kRate));

    // Written as fast as it goes, the terminal fills (to about 12 KB) and the writer has to wait;
    // over the next 100 ms the line takes only its bit rate's worth.
    const Bytes block(4096, 0x00);
    for (int i = 0; i < 256 && write(program.Fd(), block.data(), block.size()) > 0; ++i) {
    }
    EXPECT_EQ(errno, EAGAIN);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bus.Stop();
    const Nanos stopped = MonotonicNow();
    EXPECT_LE(bus.Sim().InputFreeAt(), stopped + Ms(1) + CharTimes(1, kRate))
        << "the bus took the bytes faster than the line carries them";
    EXPECT_GT(bus.Sim().InputFreeAt(), stopped - Ms(50)) << "the line carried nothing";
}
