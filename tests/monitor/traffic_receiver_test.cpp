#include "monitor/traffic/traffic_receiver.h"
#include "monitor/traffic/traffic_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The list as a plain store, and the capture file as the texts handed to it.
struct ListAndCapture : ITrafficOutput {
    CTrafficStore list;
    std::vector<std::string> captured;
    bool captureOn = true;
    int scrolls = 0;

    std::int64_t LineCount() const override { return list.Count(); }
    void AddLine(const TrafficLine& line) override { list.Append(line); }
    void ReplaceLastLine(const TrafficLine& line) override { list.ReplaceLast(line); }
    void ScrollToEnd() override { ++scrolls; }
    void CaptureLine(const TrafficLine& line) override {
        if (captureOn)
            captured.push_back(LineText(line));
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (std::int64_t i = 0; i < list.Count(); ++i)
            lines.push_back(list.Text(i));
        return lines;
    }
};

struct Receiver : ::testing::Test {
    ListAndCapture out;
    CTrafficReceiver rx{out};

    Receiver() {
        rx.m_clock = [] { return StampTime{2026, 12, 6, 18, 48, 50, 12}; };
    }
    void Feed(std::initializer_list<int> bytes) {
        for (int b : bytes) {
            const auto byte = static_cast<std::uint8_t>(b);
            rx.Receive(&byte, 1);
        }
    }
    void FeedCounting(int from, int count) {
        for (int i = 0; i < count; ++i) {
            const auto byte = static_cast<std::uint8_t>(from + i);
            rx.Receive(&byte, 1);
        }
    }
};

using Lines = std::vector<std::string>;

TEST_F(Receiver, GoodMessageIsShownAndCapturedBadOneIsNotCounted) {
    Feed({0x83, 0x7C});
    EXPECT_EQ(out.Lines(), Lines{"83 7C "});
    EXPECT_EQ(out.captured, Lines{"83 7C "});
    EXPECT_EQ(rx.MessageCount(), 1);
    Feed({0x83, 0x7D});
    EXPECT_EQ(out.Lines(), Lines{"83 7C "});
    EXPECT_EQ(rx.MessageCount(), 1);
    EXPECT_GE(out.scrolls, 1);
}

TEST_F(Receiver, InterruptedMessageIsDroppedAndTheNewOneShown) {
    Feed({0xA1, 0x01, 0x83, 0x7C}); // 0xA1 wants four bytes, 0x83 starts over
    EXPECT_EQ(out.Lines(), Lines{"83 7C "});
}

TEST_F(Receiver, TimeStampNumberingRestartsAfterRawAndAfterPause) {
    rx.SetUseTimeStamp(true);
    Feed({0x83, 0x7C, 0x81, 0x7E});
    // As the view switches: raw data, then back to Trakbus data.
    rx.SelectRawData();
    rx.SetDisplayMode(DisplayRaw);
    rx.SetDisplayMode(DisplayTrakbus);
    Feed({0x82, 0x7D});
    rx.TogglePause();
    Feed({0x83, 0x7C}); // paused: neither shown nor captured
    rx.TogglePause();
    Feed({0x84, 0x7B});
    const Lines expected{
        "#0001 = 12/6/2026 18:48:50.12 - 83 7C ", "#0002 = 12/6/2026 18:48:50.12 - 81 7E ",
        "", // the empty line left by the switch to raw data
        "#0001 = 12/6/2026 18:48:50.12 - 82 7D ", "#0001 = 12/6/2026 18:48:50.12 - 84 7B "};
    EXPECT_EQ(out.Lines(), expected);
    EXPECT_EQ(out.captured.size(), 4u);
}

TEST_F(Receiver, RawLinesAreShownAndCapturedWhilePaused) {
    rx.SelectRawData();
    rx.TogglePause();
    FeedCounting(0, 20);
    EXPECT_EQ(out.Lines(),
              (Lines{"00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 ", ""}));
    EXPECT_EQ(out.captured.size(), 1u);
}

TEST_F(Receiver, UnfinishedRawLineShowsAfterSilenceAndIsCompletedInPlace) {
    rx.SelectRawData();
    FeedCounting(0x30, 7);
    EXPECT_EQ(out.list.Count(), 0);
    rx.OnTimer(true); // countdown 2 -> 1
    EXPECT_EQ(out.list.Count(), 0);
    rx.OnTimer(true); // -> 0: shown
    EXPECT_EQ(out.Lines(), Lines{"30 31 32 33 34 35 36 "});
    rx.OnTimer(true);
    rx.OnTimer(true); // nothing new: stays as it is
    EXPECT_EQ(out.list.Count(), 1);
    FeedCounting(0x37, 13);
    EXPECT_EQ(out.Lines(),
              (Lines{"30 31 32 33 34 35 36 37 38 39 - 3A 3B 3C 3D 3E 3F 40 41 42 43 ", ""}));
    EXPECT_EQ(out.captured.size(), 1u);
}

TEST_F(Receiver, SteadyTrafficDoesNotRefreshTheUnfinishedLine) {
    rx.SelectRawData();
    for (int tick = 0; tick < 6; ++tick) {
        FeedCounting(tick, 1);
        rx.OnTimer(true);
    }
    EXPECT_EQ(out.list.Count(), 0);
}

TEST_F(Receiver, ClearKeepsTheRawLineUnderConstruction) {
    rx.SelectRawData();
    FeedCounting(0, 5);
    rx.OnTimer(true);
    rx.OnTimer(true);
    ASSERT_EQ(out.list.Count(), 1);
    out.list.Clear(); // "Clear" empties only the list
    FeedCounting(5, 15);
    EXPECT_EQ(out.Lines(),
              (Lines{"00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 ", ""}));
}

TEST_F(Receiver, SwitchToRawKeepsTheLastMessageLine) {
    Feed({0x83, 0x7C});
    rx.SelectRawData();
    FeedCounting(0, 3);
    rx.OnTimer(true);
    rx.OnTimer(true);
    EXPECT_EQ(out.Lines(), (Lines{"83 7C ", "00 01 02 "}));
}

TEST_F(Receiver, CaptureSwitchedOffMidwayKeepsOnlyFinishedLines) {
    rx.SelectRawData();
    FeedCounting(0, 35);
    out.captureOn = false;
    EXPECT_EQ(out.captured,
              Lines{"00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 "});
    EXPECT_EQ(rx.RawCount(), 15);
}

TEST_F(Receiver, ModeIsTestedForEveryByte) {
    const std::uint8_t bytes[] = {0x83, 0x7C};
    rx.Receive(bytes, 1);
    rx.SelectRawData();
    rx.Receive(bytes + 1, 1);
    EXPECT_EQ(rx.RawCount(), 1);
    EXPECT_EQ(out.list.Count(), 0);
}

TEST_F(Receiver, LineErrorRestartsTheFramerButKeepsTheCount) {
    Feed({0xA1, 0x01});
    rx.OnLineError();
    EXPECT_EQ(rx.Framer().m_nRxState, 0);
    EXPECT_EQ(rx.Framer().m_nRxCount, 2);
    Feed({0x02, 0x5D}); // would have completed A1 01 02 5D
    EXPECT_EQ(out.list.Count(), 0);
    Feed({0x83, 0x7C});
    EXPECT_EQ(out.Lines(), Lines{"83 7C "});
}

TEST_F(Receiver, TimerClearsThePauseWhenThePortIsClosed) {
    rx.TogglePause();
    rx.OnTimer(true);
    EXPECT_TRUE(rx.Paused());
    rx.OnTimer(false);
    EXPECT_FALSE(rx.Paused());
}

TEST_F(Receiver, StoredModeOtherThanRawCountsAsTrakbus) {
    rx.SetDisplayMode(7);
    EXPECT_EQ(rx.DisplayModeGrp(), 0);
    Feed({0x83, 0x7C});
    EXPECT_EQ(out.Lines(), Lines{"83 7C "});
}

TEST(PortStatus, Texts) {
    EXPECT_EQ(PortStatusText(false, true, 3), QStringLiteral("COM Port Closed"));
    EXPECT_EQ(PortStatusText(true, true, 3), QStringLiteral("COM Port Paused"));
    EXPECT_EQ(PortStatusText(true, false, 3), QStringLiteral("COM Port 3 Open"));
}

} // namespace
