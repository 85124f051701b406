// Tooltip texts of one message of each kind, and finding bytes in the stored lines.

#include "busproto/messages.h"
#include "monitor/traffic/line_meaning.h"
#include "monitor/traffic/traffic_finder.h"

#include <gtest/gtest.h>

namespace {

TrafficLine Line(const std::vector<std::uint8_t>& bytes) {
    return TrafficLine::Message(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(LineMeaning, EveryKindOfMessageIsDecoded) {
    EXPECT_EQ(LineMeaning(Line({0x83, 0x7C}), nullptr), "Opcode 83: fixed length, 2 bytes");
    EXPECT_EQ(LineMeaning(Line({0xC1, 1, 2, 3, 4, 0x3F}), nullptr),
              "Opcode C1: fixed length, 6 bytes");

    std::uint8_t ipl[kIplMessageLength];
    const std::uint8_t payload[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    BuildIplMessage(IplData, payload, ipl);
    EXPECT_EQ(LineMeaning(TrafficLine::Message(ipl, kIplMessageLength), nullptr),
              "Opcode E5: variable length, 16 bytes\nIPL data message\n"
              "Payload 12 34 56 78 9A BC DE F0");

    std::uint8_t reply[kDeviceMessageLength];
    DeviceInfo device;
    device.product = 12;
    device.product2 = 3;
    device.hardware = 0x09;
    device.software = 0x11;
    device.bootloader = 0x0A;
    device.serial = 0x019234;
    device.serial2 = 0x80000001;
    BuildDeviceReply(device, reply);
    EXPECT_EQ(LineMeaning(TrafficLine::Message(reply, kDeviceMessageLength), nullptr),
              "Opcode E5: variable length, 20 bytes\n"
              "Device message: group 0F, code 10\n"
              "Device reply: product 12, second product 3\n"
              "Serial number 102964 (0x19234), second serial number 2147483649 (0x80000001)\n"
              "Software 2.1, hardware 1.1, boot loader 1.2\n"
              "Payload 0C 03 09 11 0A 34 92 01 01 00 00 80");

    std::uint8_t ping[kDeviceMessageLength];
    BuildPingReply(0x22, 0x50, 0x38, ping);
    const std::string pingText =
        LineMeaning(TrafficLine::Message(ping, kDeviceMessageLength), nullptr);
    EXPECT_NE(pingText.find("Device message: group 08, code 22\n"
                            "Ping reply: signal strength local 80, remote 56"),
              std::string::npos)
        << pingText;

    std::uint8_t request[kDeviceMessageLength];
    BuildDiscoverRequest(0, request);
    EXPECT_NE(LineMeaning(TrafficLine::Message(request, kDeviceMessageLength), nullptr)
                  .find("\nDiscover request: all products\n"),
              std::string::npos);
    BuildIdentifyRequest(12, 0x019234, request);
    EXPECT_NE(LineMeaning(TrafficLine::Message(request, kDeviceMessageLength), nullptr)
                  .find("\nIdentify request: product 12, serial number 102964 (0x19234)\n"),
              std::string::npos);

    const std::uint8_t raw[20] = {};
    EXPECT_EQ(LineMeaning(TrafficLine::Raw(raw, 20), nullptr), "Raw data: 20 bytes");
}

TEST(LineMeaning, TimeSinceThePreviousStampedMessage) {
    TrafficLine before = Line({0x83, 0x7C});
    before.stamped = true;
    before.time = StampTime{2026, 12, 31, 23, 59, 59, 95};
    TrafficLine after = Line({0x81, 0x7E});
    after.stamped = true;
    after.time = StampTime{2027, 1, 1, 0, 0, 1, 20}; // across the turn of the year
    EXPECT_EQ(LineMeaning(after, &before),
              "Opcode 81: fixed length, 2 bytes\n1.25 s since the previous message");
    // Without time stamps there is no time to tell.
    EXPECT_EQ(LineMeaning(Line({0x81, 0x7E}), &before), "Opcode 81: fixed length, 2 bytes");
}

TEST(TrafficFinder, NextAndPreviousWrapAroundAndFollowNewLines) {
    CTrafficStore store;
    const std::vector<std::vector<std::uint8_t>> lines = {{0xB0, 0x01, 0x4E},
                                                          {0x83, 0x7C},
                                                          {0xA0, 0xB0, 0x01, 0x0E},
                                                          {0x81, 0x7E},
                                                          {0xB0, 0x02, 0x4D}};
    for (const auto& bytes : lines) {
        TrafficLine line = Line(bytes);
        line.stamped = true; // the prefix is not searched: "01" is in its date
        line.time = StampTime{2001, 1, 1, 1, 1, 1, 1};
        store.Append(line);
    }
    CTrafficFinder finder;
    finder.SetPattern("b0 01");
    finder.Update(store);
    EXPECT_EQ(finder.Matches(), (std::vector<std::int64_t>{0, 2}));
    EXPECT_EQ(finder.Next(-1), 0);
    EXPECT_EQ(finder.Next(0), 2);
    EXPECT_EQ(finder.Next(2), 0); // wraps to the top
    EXPECT_EQ(finder.Previous(2), 0);
    EXPECT_EQ(finder.Previous(0), 2); // wraps to the bottom
    EXPECT_EQ(finder.Previous(-1), 2);
    EXPECT_EQ(finder.IndexOf(2), 1);
    EXPECT_EQ(finder.IndexOf(1), -1);

    // Bytes, not text: any spacing, matched on byte boundaries only.
    const auto found = [&](const char* pattern) {
        finder.SetPattern(pattern);
        finder.Update(store);
        return finder.Matches();
    };
    EXPECT_EQ(found("B001"), (std::vector<std::int64_t>{0, 2}));
    EXPECT_EQ(found("B0  01"), (std::vector<std::int64_t>{0, 2}));
    EXPECT_EQ(found("b0\t1"), (std::vector<std::int64_t>{0, 2}));
    EXPECT_TRUE(found("1 4").empty());  // "01 4E" holds the text, not the bytes 01 04
    EXPECT_TRUE(found("0 0").empty());  // "B0 01" likewise
    EXPECT_TRUE(found("2001").empty()); // the year of the prefix is not searched
    EXPECT_EQ(found("4E"), (std::vector<std::int64_t>{0}));
    EXPECT_TRUE(found("- ").empty()); // no digits: nothing to find
    EXPECT_EQ(finder.Next(0), -1);
    EXPECT_EQ(ParseFindPattern("b0014 e"), (std::vector<std::uint8_t>{0xB0, 0x01, 0x04, 0x0E}));

    // Lines added later are found; a last line filled in place is looked at again.
    finder.SetPattern("B0 01");
    finder.Update(store);
    const std::uint8_t partial[1] = {0xB0};
    store.Append(TrafficLine::Raw(partial, 1));
    finder.Update(store);
    EXPECT_EQ(finder.Matches().size(), 2u);
    const std::uint8_t full[2] = {0xB0, 0x01};
    store.ReplaceLast(TrafficLine::Raw(full, 2));
    finder.Update(store);
    EXPECT_EQ(finder.Matches(), (std::vector<std::int64_t>{0, 2, 5}));

    // A raw line's dash lies between bytes, not in them.
    std::uint8_t raw[20];
    for (int i = 0; i < 20; ++i)
        raw[i] = static_cast<std::uint8_t>(i);
    store.Append(TrafficLine::Raw(raw, 20));
    EXPECT_EQ(found("09 0A"), (std::vector<std::int64_t>{6}));

    // After "Clear" the old matches are gone, even when as many lines come again.
    store.Clear();
    for (int i = 0; i < 6; ++i)
        store.Append(Line({0x83, 0x7C}));
    finder.Update(store);
    EXPECT_TRUE(finder.Matches().empty());
}

} // namespace
