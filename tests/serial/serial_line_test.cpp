// Line format, flow control, read modes and the event character, as the other end sees them.
#include "tests/serial/serial_test_support.h"

using serialtest::ReadPeerView;
using serialtest::SerialTest;

TEST_F(SerialTest, OpenMakesTheLineRaw) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    const serialtest::PeerView view = ReadPeerView(line.Master());
    EXPECT_FALSE(view.echo);
    EXPECT_FALSE(view.canonical);
    EXPECT_FALSE(view.ixon);
    EXPECT_FALSE(view.crtscts);
}

TEST_F(SerialTest, AnyBitRateIsSetExactly) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
    EXPECT_EQ(ReadPeerView(line.Master()).bitRate, 16457u);
    EXPECT_EQ(port.GetBitRate(), 16457);
    EXPECT_EQ(port.GetDataBits(), 8);
    EXPECT_EQ(port.GetParity(), ParityNone);
    EXPECT_EQ(port.GetStopBits(), StopBitsOne);
    ASSERT_EQ(port.SetLineFormat(1234567, 8, ParityNone, StopBitsTwo), SerialOk);
    EXPECT_EQ(ReadPeerView(line.Master()).bitRate, 1234567u);
    EXPECT_EQ(port.GetBitRate(), 1234567);
    EXPECT_EQ(port.GetStopBits(), StopBitsTwo);
    EXPECT_TRUE(ReadPeerView(line.Master()).twoStopBits);
}

// A pseudo-terminal keeps 8 data bits and no parity generation whatever it is asked for (the
// driver judges the values), but it keeps the input parity check, the rate and the stop bits.
TEST_F(SerialTest, ParityCheckFollowsTheParityCode) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetLineFormat(115200, 7, ParityEven, StopBitsOne), SerialOk);
    serialtest::PeerView view = ReadPeerView(line.Master());
    EXPECT_EQ(view.bitRate, 115200u);
    EXPECT_TRUE(view.parityChecked);
    EXPECT_FALSE(view.twoStopBits);
    // What the getters report is what the driver holds.
    EXPECT_EQ(port.GetDataBits(), view.dataBits);
    EXPECT_EQ(port.GetParity(), view.parityEnabled ? ParityEven : ParityNone);

    ASSERT_EQ(port.SetLineFormat(300, 5, ParityMark, StopBitsOneHalf), SerialOk);
    view = ReadPeerView(line.Master());
    EXPECT_EQ(view.bitRate, 300u);
    EXPECT_TRUE(view.parityChecked);
    EXPECT_TRUE(view.twoStopBits);

    ASSERT_EQ(port.SetLineFormat(300, 8, ParityNone, StopBitsOne), SerialOk);
    view = ReadPeerView(line.Master());
    EXPECT_FALSE(view.parityChecked);
    EXPECT_FALSE(view.parityEnabled);
    EXPECT_FALSE(view.twoStopBits);
    EXPECT_EQ(port.GetParity(), ParityNone);
}

TEST_F(SerialTest, ValuesTheLineCannotTakeChangeNothing) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
    const std::int32_t invalid = SerialErrnoBase | EINVAL;
    EXPECT_EQ(port.SetLineFormat(9600, 9, ParityNone, StopBitsOne), invalid);
    EXPECT_EQ(port.SetLineFormat(9600, 8, static_cast<Parity>(5), StopBitsOne), invalid);
    EXPECT_EQ(port.SetLineFormat(9600, 8, ParityNone, StopBitsOneHalf), invalid);
    EXPECT_EQ(port.SetLineFormat(9600, 5, ParityNone, StopBitsTwo), invalid);
    EXPECT_EQ(port.SetLineFormat(0, 8, ParityNone, StopBitsOne), invalid);
    EXPECT_EQ(port.GetLastError(), invalid);
    EXPECT_EQ(port.GetBitRate(), 16457);
    EXPECT_EQ(port.GetDataBits(), 8);
}

TEST_F(SerialTest, FlowControlTable) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetFlowControl(FlowHardware), SerialOk);
    EXPECT_EQ(port.GetFlowControl(), FlowHardware);
    EXPECT_TRUE(ReadPeerView(line.Master()).crtscts);
    ASSERT_EQ(port.SetFlowControl(FlowSoftware), SerialOk);
    EXPECT_EQ(port.GetFlowControl(), FlowSoftware);
    serialtest::PeerView view = ReadPeerView(line.Master());
    EXPECT_TRUE(view.ixon && view.ixoff);
    EXPECT_FALSE(view.crtscts);

    EXPECT_EQ(port.SetFlowControl(static_cast<FlowControl>(3)), SerialErrInvalidArg);
    EXPECT_EQ(port.SetFlowControl(static_cast<FlowControl>(-1)), SerialErrInvalidArg);
    EXPECT_EQ(port.GetFlowControl(), FlowSoftware);
    view = ReadPeerView(line.Master());
    EXPECT_TRUE(view.ixon && view.ixoff);

    ASSERT_EQ(port.SetFlowControl(FlowNone), SerialOk);
    EXPECT_EQ(port.GetFlowControl(), FlowNone);
    view = ReadPeerView(line.Master());
    EXPECT_FALSE(view.ixon || view.ixoff || view.crtscts);
}

TEST_F(SerialTest, ReadModesAndInvalidMode) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    std::uint8_t buffer[1024];
    std::uint32_t count = 77;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), SerialOk); // non-blocking after open
    EXPECT_EQ(count, 0u);

    EXPECT_EQ(port.SetReadMode(static_cast<ReadMode>(2)), SerialErrInvalidArg);
    line.Send({1, 2, 3});
    line.Receive(1, 100);                                          // give the bytes time to cross
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), SerialOk); // still non-blocking
    EXPECT_EQ(count, 3u);

    ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
    std::thread sender([this] {
        line.Send({10, 11, 12, 13});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        line.Send({14, 15});
    });
    EXPECT_EQ(port.Read(buffer, 6, &count), SerialOk); // only when all six have come
    sender.join();
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 6),
              (std::vector<std::uint8_t>{10, 11, 12, 13, 14, 15}));
}

TEST_F(SerialTest, EventCharacterAndMask) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetEventMask(EvRxChar | EvError), SerialOk);
    ASSERT_EQ(port.SetEventCharacter('\n', false), SerialOk);
    EXPECT_EQ(port.GetEventCharacter(), '\n');
    EXPECT_EQ(port.GetEventMask(), EvRxChar | EvError);
    ASSERT_EQ(port.SetEventCharacter('#', true), SerialOk);
    EXPECT_EQ(port.GetEventCharacter(), '#');
    EXPECT_EQ(port.GetEventMask(), EvRxChar | EvError | EvRxFlag);
}
