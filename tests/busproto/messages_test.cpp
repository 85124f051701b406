#include "busproto/checksum.h"
#include "busproto/messages.h"
#include "busproto/rx_assembler.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> Ipl(std::uint8_t kind, std::vector<std::uint8_t> data) {
    data.resize(8);
    std::vector<std::uint8_t> out(kIplMessageLength);
    BuildIplMessage(kind, data.data(), out.data());
    return out;
}

} // namespace

TEST(IplMessage, ExamplesByteForByte) {
    EXPECT_EQ(Ipl(IplAddress, {0x00, 0x10, 0x00}),
              Hex("E5 10 7F 7F 7F 40 00 10 00 00 10 00 00 00 00 35"));
    EXPECT_EQ(Ipl(IplEnd, {}), Hex("E5 10 7F 7F 7F 40 00 00 00 00 40 00 00 00 00 75"));
    EXPECT_EQ(Ipl(IplSetup, {255, 12, 1, 0x11, 2, 0, 4, 0}),
              Hex("E5 10 7F 7F 7F 41 7F 0C 01 11 00 02 00 04 00 51"));
}

TEST(IplMessage, AllOnesDataPacksFlagsWithKind) {
    const auto m = Ipl(IplData, std::vector<std::uint8_t>(8, 0xFF));
    EXPECT_EQ(m[5], 0x4F);
    EXPECT_EQ(m[10], 0x2F);
    for (int i : {6, 7, 8, 9, 11, 12, 13, 14})
        EXPECT_EQ(m[i], 0x7F) << i;
    EXPECT_EQ(ComputeChecksum(16, m.data()), 0);
}

TEST(IplMessage, DecodeGivesKindAndPayloadBack) {
    const std::vector<std::uint8_t> data = {0x80, 0x01, 0xFE, 0x7F, 0x00, 0x81, 0xC3, 0x3C};
    for (std::uint8_t kind : {IplSetup, IplAddress, IplData, IplEnd}) {
        const auto m = Ipl(kind, data);
        CRxAssembler rx;
        bool done = false;
        for (std::uint8_t b : m)
            done = rx.Step(b);
        ASSERT_TRUE(done);
        std::uint8_t gotKind = 0xFF, got[8] = {};
        ASSERT_TRUE(DecodeIplMessage(rx.m_rxBuf, rx.m_nRxCount, &gotKind, got));
        EXPECT_EQ(gotKind, kind);
        EXPECT_EQ(std::vector<std::uint8_t>(got, got + 8), data);
    }
    std::uint8_t kind, got[8];
    auto other = Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08");
    EXPECT_FALSE(DecodeIplMessage(other.data(), 20, &kind, got));
}

TEST(DeviceMessage, RequestExamplesByteForByte) {
    std::vector<std::uint8_t> m(kDeviceMessageLength);
    BuildDiscoverRequest(0, m.data());
    EXPECT_EQ(m, Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08"));
    BuildIdentifyRequest(12, 0x019234, m.data());
    EXPECT_EQ(m, Hex("E5 14 0F 08 00 0C 00 01 00 04 00 34 12 01 00 00 00 00 00 27"));
}

TEST(DeviceMessage, HighPayloadBitsTravelInFlagsAndRestore) {
    DeviceInfo dev;
    dev.product = 0x9C; // bit 7 set: flag bit 0 of group 0
    dev.product2 = 0x18;
    dev.hardware = 3;
    dev.software = 0x8B; // flag bit 3 of group 0
    dev.bootloader = 0x11;
    dev.serial = 0x80FF01;
    dev.serial2 = 0xDEADBEEF;
    std::uint8_t m[kDeviceMessageLength];
    BuildDeviceReply(dev, m);
    EXPECT_EQ(m[2], kDeviceGroup);
    EXPECT_EQ(m[3], kReplyCode);
    EXPECT_EQ(m[4], 0x09);
    EXPECT_EQ(m[5], 0x1C);
    EXPECT_EQ(m[8], 0x0B);
    EXPECT_EQ(m[9], 0x0C);  // d6 = 0xFF, d7 = 0x80
    EXPECT_EQ(m[14], 0x0F); // EF BE AD DE all high
    for (int i = 1; i < kDeviceMessageLength; ++i)
        EXPECT_EQ(m[i] & 0x80, 0) << i;
    EXPECT_EQ(ComputeChecksum(20, m), 0);

    std::uint8_t restored[kDeviceMessageLength];
    std::copy(m, m + 20, restored);
    RestoreHighBits(restored);
    for (int i = 0; i < 20; ++i) {
        const bool payload = i >= 5 && i != 9 && i != 14 && i != 19;
        if (!payload) {
            EXPECT_EQ(restored[i], m[i]) << i; // flags, header and checksum untouched
        }
    }
    EXPECT_EQ(restored[5], 0x9C);
    EXPECT_EQ(restored[8], 0x8B);
    EXPECT_EQ(restored[11] | restored[12] << 8 | restored[13] << 16, 0x80FF01);
    EXPECT_EQ(restored[15], 0xEF);
    EXPECT_EQ(restored[18], 0xDE);

    std::uint8_t group, code, data[12];
    ASSERT_TRUE(DecodeDeviceMessage(m, 20, &group, &code, data));
    const DeviceInfo back = DeviceInfoFromPayload(data);
    EXPECT_EQ(back.product, dev.product);
    EXPECT_EQ(back.product2, dev.product2);
    EXPECT_EQ(back.hardware, dev.hardware);
    EXPECT_EQ(back.software, dev.software);
    EXPECT_EQ(back.bootloader, dev.bootloader);
    EXPECT_EQ(back.serial, dev.serial);
    EXPECT_EQ(back.serial2, dev.serial2);
}

TEST(DeviceMessage, PingReplyCarriesSignalStrengths) {
    std::uint8_t m[kDeviceMessageLength];
    BuildPingReply(0x33, 0xA5, 0x42, m);
    RestoreHighBits(m);
    EXPECT_EQ(m[2], kPingGroup);
    EXPECT_EQ(m[3], 0x33);
    EXPECT_EQ(m[12], 0xA5);
    EXPECT_EQ(m[13], 0x42);
}

TEST(VersionText, MajorAndMinor) {
    EXPECT_EQ(VersionText(0x11), "2.1");
    EXPECT_EQ(VersionText(0x0B), "1.3");
    EXPECT_EQ(VersionText(0), "0.0");
    EXPECT_EQ(VersionText(0xFF), "31.7");
}

TEST(DeviceMessage, DecodeRefusesOtherOpcodesAndCounts) {
    std::uint8_t m[kDeviceMessageLength];
    BuildDiscoverRequest(3, m);
    std::uint8_t group = 0, code = 0, data[12] = {};
    ASSERT_TRUE(DecodeDeviceMessage(m, kDeviceMessageLength, &group, &code, data));
    EXPECT_EQ(group, kDeviceGroup);
    EXPECT_EQ(code, kRequestCode);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[5], 1);
    EXPECT_FALSE(DecodeDeviceMessage(m, kIplMessageLength, &group, &code, data));
    m[1] = 0x10; // an IplMessage's count byte
    EXPECT_FALSE(DecodeDeviceMessage(m, kDeviceMessageLength, &group, &code, data));
    m[1] = kDeviceMessageLength;
    m[0] = 0xE6;
    EXPECT_FALSE(DecodeDeviceMessage(m, kDeviceMessageLength, &group, &code, data));
}
