#include "busproto/frame_splitter.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Frame {
    std::vector<std::uint8_t> bytes;
    FrameEnd end;
    bool operator==(const Frame&) const = default;
};

struct Collect {
    std::vector<Frame> frames;
    CFrameSplitter splitter{[this](const std::uint8_t* b, int n, FrameEnd end) {
        frames.push_back({std::vector<std::uint8_t>(b, b + n), end});
    }};
};

} // namespace

TEST(FrameSplitter, EveryByteLandsInOneFrameWithItsEnding) {
    Collect c;
    c.splitter.Push(Hex("55 83 7C A1 01 02 5D 83 7D C6 01 02").data(), 12);
    c.splitter.LineError();
    c.splitter.Push(Hex("E5 04 01").data(), 3);
    c.splitter.Flush();
    const std::vector<Frame> expected = {
        {Hex("55"), FrameEnd::NoOpcode},       {Hex("83 7C"), FrameEnd::Whole},
        {Hex("A1 01 02 5D"), FrameEnd::Whole}, {Hex("83 7D"), FrameEnd::BadChecksum},
        {Hex("C6 01 02"), FrameEnd::CutShort}, {Hex("E5 04 01"), FrameEnd::CutShort},
    };
    EXPECT_EQ(c.frames, expected);

    // 32 bytes without an opcode: the assembler drops the 33rd, which ends up alone.
    Collect run;
    const std::vector<std::uint8_t> stray(33, 0x11);
    run.splitter.Push(stray.data(), stray.size());
    run.splitter.Flush();
    ASSERT_EQ(run.frames.size(), 2u);
    EXPECT_EQ(run.frames[0].bytes.size(), 32u);
    EXPECT_EQ(run.frames[1], (Frame{Hex("11"), FrameEnd::NoOpcode}));
}

TEST(FrameSplitter, WholeFramesAreExactlyTheAssemblersMessages) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 20000; ++i) {
        // Mostly good messages, with bytes flipped or lost now and then.
        std::vector<std::uint8_t> m = {static_cast<std::uint8_t>(0x80 | (random() & 0x7F))};
        if ((m[0] & 0xE0) == 0xE0)
            m.push_back(static_cast<std::uint8_t>(2 + random() % 30));
        const int length = (m[0] & 0xE0) == 0xE0   ? m[1]
                           : (m[0] & 0xE0) == 0x80 ? 2
                           : (m[0] & 0xE0) == 0xA0 ? 4
                                                   : 6;
        while (static_cast<int>(m.size()) < length - 1)
            m.push_back(random() & 0x7F);
        std::uint8_t x = 0;
        for (std::uint8_t b : m)
            x ^= b;
        m.push_back(static_cast<std::uint8_t>(~x & 0x7F));
        if (random() % 10 == 0)
            m[random() % m.size()] = static_cast<std::uint8_t>(random());
        if (random() % 10 == 0)
            m.pop_back();
        stream.insert(stream.end(), m.begin(), m.end());
    }
    CRxAssembler rx;
    std::vector<std::vector<std::uint8_t>> messages;
    for (std::uint8_t b : stream)
        if (rx.Step(b))
            messages.emplace_back(rx.m_rxBuf, rx.m_rxBuf + rx.m_nRxCount);
    Collect c;
    c.splitter.Push(stream.data(), stream.size());
    c.splitter.Flush();
    std::vector<std::vector<std::uint8_t>> whole;
    std::size_t bytes = 0;
    for (const Frame& f : c.frames) {
        bytes += f.bytes.size();
        if (f.end == FrameEnd::Whole)
            whole.push_back(f.bytes);
    }
    EXPECT_EQ(bytes, stream.size());
    EXPECT_GT(messages.size(), 10000u);
    EXPECT_EQ(whole, messages);
}
