#include "busproto/checksum.h"
#include "busproto/messages.h"
#include "monitor/traffic/traffic_filter.h"
#include "monitor/traffic/traffic_finder.h"

#include <gtest/gtest.h>

namespace {

TrafficLine Message(std::vector<std::uint8_t> bytes, bool withChecksum = true) {
    if (withChecksum)
        bytes.push_back(ComputeChecksum(static_cast<int>(bytes.size()), bytes.data()));
    return TrafficLine::Message(bytes.data(), static_cast<int>(bytes.size()));
}

TrafficLine Ipl(std::uint8_t kind) {
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t out[16];
    BuildIplMessage(kind, data, out);
    return TrafficLine::Message(out, 16);
}

TrafficLine Device(void (*build)(std::uint8_t*)) {
    std::uint8_t out[20];
    build(out);
    return TrafficLine::Message(out, 20);
}

std::vector<std::int64_t> Shown(const CTrafficFilter& filter) {
    std::vector<std::int64_t> rows;
    for (std::int64_t i = 0; i < filter.Count(); ++i)
        rows.push_back(filter.StoreRow(i));
    return rows;
}

} // namespace

TEST(LineKind, EachMessageOfTheBusHasItsKind) {
    const std::uint8_t raw[3] = {1, 2, 3};
    const std::vector<std::pair<TrafficLine, LineKind>> cases = {
        {Message({0x83}), LineKind::Message},
        {Message({0xC6, 1, 2, 3, 4}), LineKind::Message},
        {Ipl(IplSetup), LineKind::IplSetup},
        {Ipl(IplAddress), LineKind::IplAddress},
        {Ipl(IplData), LineKind::IplData},
        {Ipl(IplEnd), LineKind::IplEnd},
        {Device([](std::uint8_t* m) { BuildDiscoverRequest(0, m); }), LineKind::DiscoverRequest},
        {Device([](std::uint8_t* m) { BuildIdentifyRequest(12, 0x019234, m); }),
         LineKind::IdentifyRequest},
        {Device([](std::uint8_t* m) { BuildDeviceReply(DeviceInfo{}, m); }), LineKind::DeviceReply},
        {Device([](std::uint8_t* m) { BuildPingReply(3, 0x50, 0x38, m); }), LineKind::PingReply},
        {Message({0x83, 0x7D}, false), LineKind::BadChecksum},
        {Message({0xA1, 0x01}), LineKind::Damaged}, // too short for its opcode
        {Message({0x01, 0x02}), LineKind::Damaged}, // no opcode
        {Message({0x83, 0x85, 0x7C}, false), LineKind::Damaged},
        {TrafficLine::Message(nullptr, 0), LineKind::Damaged}, // a foreign line
        {TrafficLine::Raw(raw, 3), LineKind::RawData},
    };
    for (const auto& [line, kind] : cases)
        EXPECT_EQ(KindOfLine(line), kind) << LineText(line);
}

TEST(TrafficFilter, NarrowsTheViewAtTheEdgesAndNeverTheStore) {
    CTrafficStore store;
    store.Append(Message({0x83}));                                          // 0
    store.Append(Ipl(IplData));                                             // 1
    store.Append(Device([](std::uint8_t* m) { BuildDeviceReply({}, m); })); // 2
    store.Append(Message({0xC6, 1, 2, 3, 4}));                              // 3
    store.Append(Ipl(IplData));                                             // 4
    store.Append(Message({0x83, 0x7D}, false));                             // 5

    CTrafficFilter filter;
    filter.Update(store);
    EXPECT_FALSE(filter.Active());
    EXPECT_EQ(filter.Count(), 6);

    const auto with = [&](FilterCriteria criteria) {
        filter.SetCriteria(criteria);
        filter.Update(store);
        return Shown(filter);
    };
    using Mode = FilterCriteria::Mode;
    EXPECT_EQ(with({LineKind::DeviceReply, Mode::Only, -1}), (std::vector<std::int64_t>{2}));
    EXPECT_EQ(with({LineKind::IplData, Mode::Hide, -1}), (std::vector<std::int64_t>{0, 2, 3, 5}));
    EXPECT_EQ(with({std::nullopt, Mode::Only, 0xC6}), (std::vector<std::int64_t>{3}));
    EXPECT_EQ(with({LineKind::BadChecksum, Mode::Only, -1}), (std::vector<std::int64_t>{5}));
    EXPECT_EQ(with({LineKind::IplData, Mode::Hide, 0x83}), (std::vector<std::int64_t>{0, 5}));

    // Everything hidden.
    EXPECT_TRUE(with({std::nullopt, Mode::Only, 0x9F}).empty());
    EXPECT_EQ(filter.ShownRow(3), -1);

    // Lines that arrive while a filter is set are sorted in as they come; a raw line filled in
    // place is looked at again.
    filter.SetCriteria({LineKind::RawData, Mode::Only, -1});
    filter.Update(store);
    const std::uint8_t bytes[2] = {0x10, 0x11};
    store.Append(TrafficLine::Raw(bytes, 1)); // 6
    store.Append(Ipl(IplEnd));                // 7
    store.Append(TrafficLine::Raw(bytes, 1)); // 8
    filter.Update(store);
    store.ReplaceLast(TrafficLine::Raw(bytes, 2));
    filter.Update(store);
    EXPECT_EQ(Shown(filter), (std::vector<std::int64_t>{6, 8}));
    // A line hidden by the filter maps to the shown line before it, so that taking the filter
    // away keeps the place.
    EXPECT_EQ(filter.ShownRow(7), 0);
    EXPECT_EQ(filter.ShownRow(3), 0);
    EXPECT_EQ(filter.ShownRow(8), 1);

    // Finding looks only at the lines shown.
    CTrafficFinder finder;
    finder.SetPattern("10 11");
    finder.Update(store);
    EXPECT_EQ(finder.Matches(), (std::vector<std::int64_t>{8}));
    finder.SetFilter({LineKind::RawData, Mode::Hide, -1});
    finder.Update(store);
    EXPECT_TRUE(finder.Matches().empty());

    // The store kept every line; without a filter all of them show again.
    EXPECT_EQ(store.Count(), 9);
    filter.SetCriteria({});
    filter.Update(store);
    EXPECT_EQ(filter.Count(), 9);
    EXPECT_EQ(filter.StoreRow(7), 7);

    // "Clear" empties the view whether a filter is set or not.
    filter.SetCriteria({LineKind::IplData, Mode::Hide, -1});
    store.Clear();
    filter.Update(store);
    EXPECT_EQ(filter.Count(), 0);
    store.Append(Ipl(IplData));
    store.Append(Message({0x83}));
    filter.Update(store);
    EXPECT_EQ(Shown(filter), (std::vector<std::int64_t>{1}));
}
