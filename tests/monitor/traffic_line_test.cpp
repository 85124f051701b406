#include "monitor/traffic/traffic_line.h"
#include "monitor/traffic/traffic_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

constexpr std::int64_t kExampleMs = 1796582930123; // 6 December 2026 18:48:50.123 UTC

void UseTimeZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

TEST(TrafficLine, MessageLineWithoutPrefix) {
    const std::uint8_t msg[] = {0x83, 0x7C};
    EXPECT_EQ(LineText(TrafficLine::Message(msg, 2)), "83 7C ");
}

TEST(TrafficLine, MessageLineWithPrefixInUtc) {
    UseTimeZone("UTC0");
    const std::uint8_t msg[] = {0x83, 0x7C};
    TrafficLine line = TrafficLine::Message(msg, 2);
    line.stamped = true;
    line.number = 1;
    line.time = StampFromEpochMs(kExampleMs);
    EXPECT_EQ(LineText(line), "#0001 = 12/6/2026 18:48:50.12 - 83 7C ");
}

TEST(TrafficLine, PrefixTakesEveryFieldFromLocalTime) {
    // Half an hour off a whole hour, and past midnight locally: date and minutes must follow.
    UseTimeZone("XST-5:30");
    const StampTime t = StampFromEpochMs(kExampleMs);
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 7);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 18);
    EXPECT_EQ(t.second, 50);
    EXPECT_EQ(t.hundredths, 12);
}

TEST(TrafficLine, PrefixNumberHasFourDigitsAtLeast) {
    TrafficLine line = TrafficLine::Message(nullptr, 0);
    line.stamped = true;
    line.number = 123456;
    line.time = StampTime{2026, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(LineText(line), "#123456 = 1/2/2026 03:04:05.06 - ");
}

TEST(TrafficLine, RawLineHasADashBeforeTheEleventhByte) {
    std::uint8_t bytes[20];
    for (int i = 0; i < 20; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    const std::string full = LineText(TrafficLine::Raw(bytes, 20));
    EXPECT_EQ(full, "00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 ");
    EXPECT_EQ(full.size(), 62u);
    EXPECT_EQ(LineText(TrafficLine::Raw(bytes, 10)), "00 01 02 03 04 05 06 07 08 09 ");
    EXPECT_EQ(LineText(TrafficLine::Raw(bytes, 11)), "00 01 02 03 04 05 06 07 08 09 - 0A ");
    EXPECT_EQ(LineText(TrafficLine::Raw(bytes, 0)), "");
}

TrafficLine VariedLine(int i) {
    std::uint8_t bytes[32];
    for (int k = 0; k < 32; ++k)
        bytes[k] = static_cast<std::uint8_t>(i * 7 + k);
    if (i % 3 == 0)
        return TrafficLine::Raw(bytes, i % 21);
    TrafficLine line = TrafficLine::Message(bytes, 2 + i % 31);
    if (i % 2 == 0) {
        line.stamped = true;
        line.number = i - 5;
        line.time =
            StampTime{2000 + i % 60, 1 + i % 12, 1 + i % 31, i % 24, i % 60, i % 61, i % 100};
    }
    return line;
}

TEST(TrafficStore, KeepsEveryLineAcrossChunksAndBlocks) {
    CTrafficStore store;
    const int count = 30000; // well beyond one chunk
    for (int i = 0; i < count; ++i)
        store.Append(VariedLine(i));
    ASSERT_EQ(store.Count(), count);
    for (int i : {0, 1, 63, 64, 65, 4095, 12345, count - 1}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(store.Text(i), LineText(VariedLine(i)));
    }
    for (int i = 0; i < count; i += 97)
        ASSERT_EQ(store.Text(i), LineText(VariedLine(i))) << i;
}

TEST(TrafficStore, ReplacesTheLastLineInPlace) {
    CTrafficStore store;
    std::uint8_t bytes[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    store.ReplaceLast(TrafficLine::Raw(bytes, 3)); // empty list: added
    EXPECT_EQ(store.Count(), 1);
    for (int i = 0; i < 20000; ++i) {
        store.ReplaceLast(TrafficLine::Raw(bytes, 1 + i % 20));
        store.Append(TrafficLine::Raw(bytes, 0));
    }
    EXPECT_EQ(store.Count(), 20001);
    EXPECT_EQ(store.Text(0), LineText(TrafficLine::Raw(bytes, 1)));
    EXPECT_EQ(store.Text(19999), LineText(TrafficLine::Raw(bytes, 20)));
    EXPECT_EQ(store.Text(20000), "");
    store.ReplaceLast(TrafficLine::Raw(bytes, 5));
    EXPECT_EQ(store.Text(20000), "01 02 03 04 05 ");
    EXPECT_EQ(store.Text(19998), LineText(TrafficLine::Raw(bytes, 19)));
}

TEST(TrafficStore, ClearEmptiesAndStartsAgain) {
    CTrafficStore store;
    for (int i = 0; i < 1000; ++i)
        store.Append(VariedLine(i));
    store.Clear();
    EXPECT_EQ(store.Count(), 0);
    store.Append(VariedLine(7));
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.Text(0), LineText(VariedLine(7)));
}

} // namespace
