// The devices behind the test bus: answers to discover requests, identify logs and ping replies,
// byte for byte as the loader decodes them.

#include "tests/sim/sim_test_support.h"

using namespace simtest;

namespace {

// The example requests of the message format, as the loader builds them.
const Bytes kDiscoverAll = Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08");
const Bytes kIdentify12 = Hex("E5 14 0F 08 00 0C 00 01 00 04 00 34 12 01 00 00 00 00 00 27");

// Device 1: product 12, hardware 1, software 2.1, boot loader 1.1, serial 019234.
// Device 2: product 92 with second product 0x18, bytes with bit 7 set in every group.
SimConfig TwoDevices() {
    SimConfig config;
    config.devices.push_back({.product = 0x0C,
                              .product2 = 0,
                              .hardware = 1,
                              .software = 0x11,
                              .bootloader = 0x09,
                              .serial = 0x019234,
                              .serial2 = 0});
    config.devices.push_back({.product = 92,
                              .product2 = 0x18,
                              .hardware = 3,
                              .software = 0x8B,
                              .bootloader = 0x0A,
                              .serial = 0x8000FF,
                              .serial2 = 0x89ABCDEF});
    return config;
}

// The two replies, worked out by hand from the DeviceMessage layout.
const Bytes kReply1 = Hex("E5 14 0F 10 00 0C 00 01 11 04 09 34 12 01 00 00 00 00 00 27");
const Bytes kReply2 = Hex("E5 14 0F 10 08 5C 18 03 0B 0A 0A 7F 00 00 0F 6F 4D 2B 09 25");

DeviceInfo Decoded(const Bytes& message) {
    std::uint8_t group = 0, code = 0, data[12] = {};
    EXPECT_TRUE(
        DecodeDeviceMessage(message.data(), static_cast<int>(message.size()), &group, &code, data));
    EXPECT_EQ(group, kDeviceGroup);
    EXPECT_EQ(code, kReplyCode);
    return DeviceInfoFromPayload(data);
}

bool SameDevice(const DeviceInfo& a, const DeviceInfo& b) {
    return a.product == b.product && a.product2 == b.product2 && a.hardware == b.hardware &&
           a.software == b.software && a.bootloader == b.bootloader && a.serial == b.serial &&
           a.serial2 == b.serial2;
}

} // namespace

TEST(Devices, DiscoverAllIsEchoedThenAnsweredByEveryDevice) {
    SimHarness h(TwoDevices());
    h.Write(0, kDiscoverAll);
    h.RunUntil(Ms(500));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bytes, kDiscoverAll);
    EXPECT_EQ(sent[1].bytes, kReply1);
    EXPECT_EQ(sent[2].bytes, kReply2);
    // Each reply follows the one before on the line, without overlapping it.
    EXPECT_GE(sent[1].at - sent[0].at, CharTimes(20, 16457) - 1000);
    EXPECT_GE(sent[2].at - sent[1].at, CharTimes(20, 16457) - 1000);
    EXPECT_TRUE(SameDevice(Decoded(sent[1].bytes), h.Config().devices[0]));
    EXPECT_TRUE(SameDevice(Decoded(sent[2].bytes), h.Config().devices[1]));
    EXPECT_TRUE(h.LogHas("discover (product filter 0): 2 replies"));

    // After RestoreHighBits the reply carries the bytes where the loader's window reads them.
    Bytes restored = sent[2].bytes;
    RestoreHighBits(restored.data());
    EXPECT_EQ(restored[3], 0x10);
    EXPECT_EQ(restored[5], 92);
    EXPECT_EQ(restored[6], 0x18);
    EXPECT_EQ(restored[8], 0x8B);
    EXPECT_EQ(restored[11] | restored[12] << 8 | restored[13] << 16, 0x8000FF);
    EXPECT_EQ(static_cast<std::uint32_t>(restored[15] | restored[16] << 8 | restored[17] << 16) |
                  static_cast<std::uint32_t>(restored[18]) << 24,
              0x89ABCDEFu);
}

TEST(Devices, ProductFilterSelectsTheDevicesThatAnswer) {
    SimHarness own(TwoDevices());
    Bytes for92(kDeviceMessageLength);
    BuildDiscoverRequest(92, for92.data());
    own.Write(0, for92);
    own.RunUntil(Ms(500));
    auto sent = own.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].bytes, kReply2);
    EXPECT_TRUE(own.LogHas("discover (product filter 92): 1 replies"));

    SimHarness nobody(TwoDevices());
    Bytes for7(kDeviceMessageLength);
    BuildDiscoverRequest(7, for7.data());
    nobody.Write(0, for7);
    nobody.RunUntil(Ms(500));
    sent = nobody.TakeSent();
    ASSERT_EQ(sent.size(), 1u) << "the echo only";
    EXPECT_TRUE(nobody.LogHas("discover (product filter 7): 0 replies"));
}

TEST(Devices, IdentifyIsLoggedWithTheDeviceItNamesAndNotAnswered) {
    SimHarness h(TwoDevices());
    h.Write(0, kIdentify12);
    Bytes unknown(kDeviceMessageLength);
    BuildIdentifyRequest(12, 0x019235, unknown.data());
    h.Write(Ms(100), unknown);
    h.RunUntil(Ms(500));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 2u) << "echoes only";
    EXPECT_EQ(sent[0].bytes, kIdentify12);
    EXPECT_TRUE(h.LogHas("identify: product 12 serial 019234: device 1 identifies itself"));
    EXPECT_TRUE(h.LogHas("identify: product 12 serial 019235: no such device"));
}

TEST(Devices, ARequestWhoseEchoIsLostReachesNoDevice) {
    SimConfig config = TwoDevices();
    config.faults.dropFirst = 1;
    SimHarness h(config);
    h.Write(0, kDiscoverAll);
    h.Write(Ms(100), kDiscoverAll);
    h.RunUntil(Ms(500));
    const auto sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_GE(sent[0].at, Ms(100)) << "the second request's echo comes first";
    EXPECT_EQ(sent[1].bytes, kReply1);
}

TEST(Devices, PingRepliesOnceOrPeriodicallyWithTheSignalStrengths) {
    SimConfig once;
    once.ping.once = Ms(50);
    SimHarness a(once);
    a.RunUntil(Ms(49));
    EXPECT_TRUE(a.TakeSent().empty());
    a.RunUntil(Ms(1000));
    auto sent = a.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, Hex("E5 14 08 00 00 00 00 00 00 00 00 00 50 38 00 00 00 00 00 6E"));

    SimConfig every;
    every.ping.every = Ms(100);
    every.ping.localRssi = 0x9A;
    every.ping.remoteRssi = 0x05;
    SimHarness b(every);
    b.RunUntil(Ms(350));
    sent = b.TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].bytes, Hex("E5 14 08 00 00 00 00 00 00 04 00 00 1A 05 00 00 00 00 00 1D"));
    Bytes restored = sent[0].bytes;
    RestoreHighBits(restored.data());
    EXPECT_EQ(restored[12], 0x9A);
    EXPECT_EQ(restored[13], 0x05);
    // On request, between the periodic ones.
    b.Sim().SendPing(Ms(360));
    b.RunUntil(Ms(380));
    EXPECT_EQ(b.TakeSent().size(), 1u);
}
