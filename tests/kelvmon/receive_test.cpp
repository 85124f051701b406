// Bus traffic arriving on the port, end to end: pty master -> event thread -> notification ->
// the view's read -> the traffic list.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "serial/serial.h"

#include <QLabel>
#include <regex>

using namespace kelvmon;

namespace {

using Texts = std::vector<std::string>;

struct Receive : KelvmonTest {
    Receive() { Start(); }
    bool WaitLines(std::size_t count) {
        return WaitUntil([&] { return View().TrafficList().LineCount() >= std::int64_t(count); });
    }
};

TEST_F(Receive, GoodMessageShowsBadOneIsDroppedAndNotCounted) {
    ASSERT_TRUE(View().IsPortOpen());
    m_bus->Write({0x83, 0x7C, 0x83, 0x7D, 0x81, 0x7E});
    ASSERT_TRUE(WaitLines(2));
    Pump(50);
    EXPECT_EQ(Lines(), (Texts{"83 7C ", "81 7E "}));
    EXPECT_EQ(View().Receiver().MessageCount(), 2);
    // Reaches the view too, with the list scrolled to its end.
    WaitUntil([&] { return View().TrafficList().model()->rowCount() == 2; });
    EXPECT_EQ(View().TrafficList().model()->rowCount(), 2);
}

TEST_F(Receive, TimeStampNumberStartsAtOneAfterStartRawAndPause) {
    Click(IdcTimeStamp);
    EXPECT_EQ(Doc().m_UseTimeStamp, 1);
    const std::regex stamped(R"(#0001 = \d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d\.\d\d - 83 7C )");
    m_bus->Write({0x83, 0x7C, 0x81, 0x7E});
    ASSERT_TRUE(WaitLines(2));
    EXPECT_TRUE(std::regex_match(Lines()[0], stamped)) << Lines()[0];
    EXPECT_EQ(Lines()[1].substr(0, 6), "#0002 ");

    Click(IdcRawData);
    Click(IdcTrakbusData);
    const std::size_t before = Lines().size();
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitLines(before + 1));
    EXPECT_TRUE(std::regex_match(Lines().back(), stamped)) << Lines().back();

    Click(IdcPause);
    EXPECT_EQ(Text(IdcPause), QStringLiteral("RUN"));
    m_bus->Write({0x81, 0x7E});
    Pump(150);
    Click(IdcPause);
    EXPECT_EQ(Text(IdcPause), QStringLiteral("PAUSE"));
    const std::size_t count = Lines().size();
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitLines(count + 1));
    EXPECT_TRUE(std::regex_match(Lines().back(), stamped)) << Lines().back();
}

TEST_F(Receive, PauseHidesMessagesButRawModeKeepsShowingBytes) {
    Click(IdcPause);
    m_bus->Write({0x83, 0x7C, 0x81, 0x7E});
    Pump(200);
    EXPECT_TRUE(Lines().empty());
    Click(IdcRawData);
    m_bus->Write({0x01, 0x02, 0x03});
    ASSERT_TRUE(WaitUntil([&] { return View().Receiver().RawCount() == 3; }));
    View().OnTimer(TimerId);
    View().OnTimer(TimerId);
    EXPECT_EQ(Lines(), (Texts{"01 02 03 "}));
}

TEST_F(Receive, RawLinesPartialAfterSilenceCompletedInPlaceAndKeptByClear) {
    View().KillTimer(TimerId); // the ticks are the test's own
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitLines(1));
    Click(IdcRawData);
    EXPECT_EQ(Doc().m_DisplayModeGrp, 1);
    m_bus->Write({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    ASSERT_TRUE(WaitUntil([&] { return View().Receiver().RawCount() == 7; }));
    View().OnTimer(TimerId); // one tick of silence is not enough
    EXPECT_EQ(Lines().back(), "");
    View().OnTimer(TimerId);
    EXPECT_EQ(Lines(), (Texts{"83 7C ", "00 01 02 03 04 05 06 "}));

    Bytes rest;
    for (int b = 7; b < 20; ++b)
        rest.push_back(std::uint8_t(b));
    m_bus->Write(rest);
    ASSERT_TRUE(WaitLines(3));
    const Texts lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 ");
    EXPECT_EQ(lines[1].size(), 62u);
    EXPECT_EQ(lines[2], "");

    m_bus->Write({0x21, 0x22});
    ASSERT_TRUE(WaitUntil([&] { return View().Receiver().RawCount() == 2; }));
    Click(IdcClear);
    EXPECT_TRUE(Lines().empty());
    View().OnTimer(TimerId);
    View().OnTimer(TimerId);
    EXPECT_EQ(Lines(), (Texts{"21 22 "}));
}

TEST_F(Receive, BurstOfMessagesLosesNothing) {
    // Messages of every length class, more than one read's worth at a time.
    Bytes stream;
    Texts expected;
    for (int i = 0; i < 3000; ++i) {
        Bytes m;
        switch (i % 4) {
        case 0:
            m = {0x80};
            break;
        case 1:
            m = {0xA1, std::uint8_t(i & 0x7F), 0x05};
            break;
        case 2:
            m = {0xC2, 0x01, 0x02, 0x03, std::uint8_t(i & 0x7F)};
            break;
        default:
            m = {0xE5, 0x07, 0x11, 0x22, 0x33, std::uint8_t((i >> 7) & 0x7F)};
            break;
        }
        std::uint8_t x = 0;
        for (std::uint8_t b : m)
            x ^= b;
        m.push_back(std::uint8_t(~x));
        ASSERT_EQ(m.back() & 0x80, 0) << i;
        stream.insert(stream.end(), m.begin(), m.end());
        expected.push_back(Hex(m));
    }
    m_bus->Write(stream);
    const bool all = WaitLines(expected.size());
    const Texts lines = Lines();
    for (std::size_t i = 0; i < lines.size() && i < expected.size(); ++i)
        ASSERT_EQ(lines[i], expected[i]) << "line " << i;
    ASSERT_TRUE(all) << View().TrafficList().LineCount();
    EXPECT_EQ(Lines(), expected);
}

TEST_F(Receive, StatusLabelFollowsThePort) {
    View().OnTimer(TimerId);
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port 3 Open"));
    Click(IdcPause);
    View().OnTimer(TimerId);
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port Paused"));
    View().ClosePort();
    View().OnTimer(TimerId);
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port Closed"));
    // The pause ends with the port, and the button says so.
    EXPECT_FALSE(View().Receiver().Paused());
    EXPECT_EQ(Text(IdcPause), QStringLiteral("PAUSE"));
}

TEST_F(Receive, DeviceThatGoesAwayClosesThePort) {
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitLines(1));
    m_bus.reset(); // the far end hangs up, as a pulled adapter does
    ASSERT_TRUE(WaitUntil([&] {
        View().OnTimer(TimerId);
        return !View().IsPortOpen();
    }));
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port Closed"));
    Click(IdcSendMsg1); // nothing to write to, and no harm
    EXPECT_EQ(Lines(), (Texts{"83 7C "}));
    EXPECT_TRUE(m_boxes.empty());
}

// The notification's line-error branches, handled as the event thread would post them while
// the bytes wait in the port.
TEST_F(Receive, LineErrorDiscardsWhatWaitsAndRestartsTheFramer) {
    m_bus->Write({0xA1, 0x01}); // the start of a four-byte message
    ASSERT_TRUE(WaitUntil([&] { return View().Receiver().Framer().m_nRxState != 0; }));
    m_bus->Write({0x02, 0x5D}); // its end, garbled by the line error
    ASSERT_EQ(m_bus->Unread(2, 5000), 2u);
    View().OnSerialEvent(EvError | (LineErrFrame << 16), 12);
    EXPECT_EQ(m_bus->Unread(), 0u); // read and thrown away
    EXPECT_EQ(View().Receiver().Framer().m_nRxState, 0);
    Pump(50);
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitLines(1));
    Pump(50);
    EXPECT_EQ(Lines(), (Texts{"83 7C "}));
}

TEST_F(Receive, ReceiveTogetherWithALineErrorLeavesTheBytesForTheNextReceiveEvent) {
    m_bus->Write({0x83, 0x7C});
    ASSERT_EQ(m_bus->Unread(2, 5000), 2u);
    View().OnSerialEvent(EvRxChar | EvError | (LineErrParity << 16), 12);
    EXPECT_EQ(m_bus->Unread(), 2u);
    EXPECT_TRUE(Lines().empty());
    // The receive notification of their arrival reads them.
    ASSERT_TRUE(WaitLines(1));
    EXPECT_EQ(Lines(), (Texts{"83 7C "}));
    EXPECT_EQ(m_bus->Unread(), 0u);
}

using ReceiveNoPort = KelvmonTest;

TEST_F(ReceiveNoPort, MissingPortStaysClosedWithoutAMessage) {
    Store(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"), QStringLiteral("7"));
    Start();
    EXPECT_FALSE(View().IsPortOpen());
    View().OnTimer(TimerId);
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port Closed"));
    EXPECT_TRUE(m_boxes.empty());
}

} // namespace
