#include "busproto/checksum.h"
#include "busproto/rx_assembler.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

namespace {

// Feeds every byte; returns the messages reported complete, in order.
std::vector<std::vector<std::uint8_t>> FeedAll(CRxAssembler& rx,
                                               const std::vector<std::uint8_t>& bytes) {
    std::vector<std::vector<std::uint8_t>> done;
    for (std::uint8_t b : bytes)
        if (rx.Step(b))
            done.emplace_back(rx.m_rxBuf, rx.m_rxBuf + rx.m_nRxCount);
    return done;
}

std::vector<std::uint8_t> WithChecksum(std::vector<std::uint8_t> m) {
    m.push_back(ComputeChecksum(static_cast<int>(m.size()), m.data()));
    return m;
}

const std::vector<std::uint8_t> kIplEnd = Hex("E5 10 7F 7F 7F 40 00 00 00 00 40 00 00 00 00 75");

} // namespace

TEST(Checksum, NotOfXorAndZeroOverValidMessage) {
    const auto m = Hex("83 7C");
    EXPECT_EQ(ComputeChecksum(1, m.data()), 0x7C);
    EXPECT_EQ(ComputeChecksum(2, m.data()), 0);
    EXPECT_EQ(ComputeChecksum(16, kIplEnd.data()), 0);
    EXPECT_EQ(ComputeChecksum(0, nullptr), 0xFF);
}

TEST(Checksum, LengthFromOpcode) {
    EXPECT_EQ(BusMessageLength(0x80), 2);
    EXPECT_EQ(BusMessageLength(0x9F), 2);
    EXPECT_EQ(BusMessageLength(0xA0), 4);
    EXPECT_EQ(BusMessageLength(0xDF), 6);
    EXPECT_EQ(BusMessageLength(0xE5, 0x14), 20);
    EXPECT_EQ(BusMessageLength(0x7F), 0);
}

TEST(RxAssembler, IplMessageCompleteOnSixteenthByte) {
    CRxAssembler rx;
    for (int i = 0; i < 15; ++i)
        EXPECT_FALSE(rx.Step(kIplEnd[i])) << i;
    EXPECT_TRUE(rx.Step(kIplEnd[15]));
    EXPECT_EQ(rx.m_nRxCount, 16);
    EXPECT_EQ(rx.m_nRxExpected, 16);
    EXPECT_EQ(rx.m_nRxState, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(rx.m_rxBuf, rx.m_rxBuf + 16), kIplEnd);
}

TEST(RxAssembler, AnyChangedByteAfterOpcodeDropsMessageSilently) {
    for (int pos = 1; pos < 16; ++pos) {
        auto bad = kIplEnd;
        bad[pos] = static_cast<std::uint8_t>((bad[pos] + 1) & 0x7F);
        CRxAssembler rx;
        EXPECT_TRUE(FeedAll(rx, bad).empty()) << "position " << pos;
        // The assembler goes on normally afterwards.
        EXPECT_EQ(FeedAll(rx, kIplEnd).size(), 1u) << "position " << pos;
    }
}

TEST(RxAssembler, FixedLengthClassesCompleteOnTheirLastByte) {
    for (const auto& m : {WithChecksum(Hex("83")), WithChecksum(Hex("A1 12 34")),
                          WithChecksum(Hex("C7 01 02 03 04"))}) {
        CRxAssembler rx;
        for (std::size_t i = 0; i + 1 < m.size(); ++i)
            EXPECT_FALSE(rx.Step(m[i]));
        EXPECT_TRUE(rx.Step(m.back()));
        EXPECT_EQ(rx.m_nRxCount, static_cast<int>(m.size()));
        EXPECT_EQ(rx.m_nRxExpected, static_cast<int>(m.size()));
    }
}

TEST(RxAssembler, BackToBackMessagesAllReported) {
    std::vector<std::uint8_t> stream;
    const auto a = WithChecksum(Hex("83"));
    const auto b = WithChecksum(Hex("C0 7F 00 55 2A"));
    for (const auto* m : {&a, &kIplEnd, &b, &a})
        stream.insert(stream.end(), m->begin(), m->end());
    CRxAssembler rx;
    const auto done = FeedAll(rx, stream);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[0], a);
    EXPECT_EQ(done[1], kIplEnd);
    EXPECT_EQ(done[2], b);
    EXPECT_EQ(done[3], a);
}

TEST(RxAssembler, OpcodeInMiddleStartsNewMessage) {
    std::vector<std::uint8_t> stream(kIplEnd.begin(), kIplEnd.begin() + 7);
    const auto a = WithChecksum(Hex("A3 01 02"));
    stream.insert(stream.end(), a.begin(), a.end());
    CRxAssembler rx;
    const auto done = FeedAll(rx, stream);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], a);
}

TEST(RxAssembler, ThirtyThirdByteDroppedAndStateCleared) {
    CRxAssembler rx;
    for (int i = 0; i < 32; ++i)
        EXPECT_FALSE(rx.Step(0x11));
    EXPECT_EQ(rx.m_nRxCount, 32);
    EXPECT_FALSE(rx.Step(0x22));
    EXPECT_EQ(rx.m_nRxCount, 0);
    EXPECT_EQ(rx.m_nRxState, 0);
    // A count byte beyond the limit never completes: the message runs into the limit the same way.
    std::vector<std::uint8_t> longer = Hex("E0 40");
    longer.resize(32, 0x01);
    EXPECT_TRUE(FeedAll(rx, longer).empty());
    EXPECT_EQ(rx.m_nRxCount, 32);
    EXPECT_EQ(rx.m_nRxState, 2);
    EXPECT_FALSE(rx.Step(0x01));
    EXPECT_EQ(rx.m_nRxCount, 0);
    EXPECT_EQ(rx.m_nRxState, 0);
    EXPECT_EQ(FeedAll(rx, kIplEnd).size(), 1u);
}

TEST(RxAssembler, StrayBytesInIdleStateStayCounted) {
    CRxAssembler rx;
    const auto a = WithChecksum(Hex("83"));
    FeedAll(rx, a);
    EXPECT_EQ(rx.m_nRxCount, 2); // the count stays until the next opcode
    for (int i = 0; i < 30; ++i)
        rx.Step(0x01);
    EXPECT_EQ(rx.m_nRxCount, 32);
    EXPECT_EQ(rx.m_nRxState, 0);
    // The next byte is dropped even though it is an opcode.
    EXPECT_FALSE(rx.Step(0x83));
    EXPECT_EQ(rx.m_nRxCount, 0);
    EXPECT_TRUE(FeedAll(rx, Hex("7C")).empty());
    EXPECT_EQ(FeedAll(rx, a).size(), 1u);
}

TEST(RxAssembler, ChecksumJudgedOnByteAfterStateChangeWhateverTheCount) {
    // A count byte of 2 still takes the data byte and the checksum that follow it.
    const auto m = WithChecksum(Hex("E1 02 33"));
    CRxAssembler rx;
    const auto done = FeedAll(rx, m);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], m);
    EXPECT_EQ(rx.m_nRxExpected, 2);
}

TEST(RxAssembler, LineErrorResetKeepsCount) {
    CRxAssembler rx;
    FeedAll(rx, Hex("E5 10 7F 7F"));
    rx.ResetAfterLineError();
    EXPECT_EQ(rx.m_nRxState, 0);
    EXPECT_EQ(rx.m_nRxExpected, 0);
    EXPECT_EQ(rx.m_nRxCount, 4);
    EXPECT_EQ(FeedAll(rx, kIplEnd).size(), 1u);

    rx.m_nRxCount = -3; // a count out of range drops the byte and restarts
    EXPECT_FALSE(rx.Step(0x83));
    EXPECT_EQ(rx.m_nRxCount, 0);
    rx.Reset();
    EXPECT_EQ(rx.m_nRxState + rx.m_nRxExpected + rx.m_nRxCount, 0);
}
