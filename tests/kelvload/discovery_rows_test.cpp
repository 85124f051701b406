#include "loader/discovery_rows.h"
#include "loader/product_table.h"

#include "busproto/messages.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using Message = std::array<std::uint8_t, kDeviceMessageLength>;

// A device reply as the bus link hands it over: built for the wire, then with its payload
// high bits put back.
Message Reply(const DeviceInfo& device) {
    Message message{};
    BuildDeviceReply(device, message.data());
    RestoreHighBits(message.data());
    return message;
}

DeviceInfo Device(std::uint8_t product, std::uint8_t product2, std::uint32_t serial) {
    DeviceInfo device;
    device.product = product;
    device.product2 = product2;
    device.serial = serial;
    device.hardware = 7;
    device.software = 0x0B;
    device.bootloader = 0x11;
    return device;
}

TEST(DiscoveryRows, KnownProductFillsEveryColumn) {
    const auto row = DecodeDiscoveryReply(Reply(Device(20, 0, 0x123456)).data());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->productCode, 20);
    EXPECT_EQ(row->device, LookupProductName(20));
    EXPECT_EQ(row->serial, 0x123456u);
    EXPECT_EQ(row->software, "1.3"); // 0x0B: 1 in bits 7..3, 3 in bits 2..0
    EXPECT_EQ(row->hardware, "7");
    EXPECT_EQ(row->bootLoader, "2.1");
    EXPECT_EQ(row->secondarySerial, 0u);
}

TEST(DiscoveryRows, PayloadBytesWithBitSevenSetComeThroughWhole) {
    DeviceInfo device = Device(168, 0, 0xFF80FF);
    device.software = 0xF9;   // 31.1
    device.bootloader = 0x87; // 16.7
    device.hardware = 200;
    const auto row = DecodeDiscoveryReply(Reply(device).data());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->productCode, 168);
    EXPECT_EQ(row->device, LookupProductName(168));
    EXPECT_EQ(row->serial, 0xFF80FFu);
    EXPECT_EQ(row->software, "31.1");
    EXPECT_EQ(row->bootLoader, "16.7");
    EXPECT_EQ(row->hardware, "200");
}

TEST(DiscoveryRows, SecondaryCode18ShowsItsNameAndA32BitSerial) {
    DeviceInfo device = Device(20, 0x18, 0x100);
    device.serial2 = 0x89ABCDEF;
    const auto row = DecodeDiscoveryReply(Reply(device).data());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->hardware, LookupProductName(0x18));
    EXPECT_EQ(row->secondarySerial, 0x89ABCDEFu);
}

TEST(DiscoveryRows, OtherSecondaryCodesShowHardwareAndNoSecondarySerial) {
    // 0x14 (20) is a known product, but only 0x18 brings a secondary serial number.
    DeviceInfo device = Device(21, 20, 0xFF);
    device.serial2 = 0x12345678;
    const auto row = DecodeDiscoveryReply(Reply(device).data());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->hardware, "7");
    EXPECT_EQ(row->secondarySerial, 0u);
}

TEST(DiscoveryRows, UnknownProductWithAKnownSecondaryCodeHasAnEmptyName) {
    const auto row = DecodeDiscoveryReply(Reply(Device(1, 0x18, 0x10000)).data());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->productCode, 1);
    EXPECT_EQ(row->device, "");
    EXPECT_EQ(row->hardware, LookupProductName(0x18));
    EXPECT_EQ(row->serial, 0x10000u);
}

TEST(DiscoveryRows, RepliesWithoutAKnownCodeOrWithAnotherCodeByteAreDropped) {
    EXPECT_FALSE(DecodeDiscoveryReply(Reply(Device(1, 2, 5)).data()));
    Message request = Reply(Device(20, 0, 5));
    for (std::uint8_t code : {0x00, 0x08, 0x11, 0x7F}) {
        request[3] = code;
        EXPECT_FALSE(DecodeDiscoveryReply(request.data())) << int(code);
    }
}

TEST(DiscoveryRows, RssiLineShowsBothStrengthsInTwoHexDigits) {
    Message ping{};
    BuildPingReply(0x08, 0x05, 0xC8, ping.data());
    RestoreHighBits(ping.data());
    EXPECT_EQ(FormatRssiLine(ping.data()), "Local RSSI = 05  Remote RSSI = C8");
    BuildPingReply(0x33, 0xFF, 0x00, ping.data());
    RestoreHighBits(ping.data());
    EXPECT_EQ(FormatRssiLine(ping.data()), "Local RSSI = FF  Remote RSSI = 00");
}

} // namespace
