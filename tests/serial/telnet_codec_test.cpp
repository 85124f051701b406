// The Telnet codec against the bytes a real RFC 2217 server sends.
#include "serial/telnet_codec.h"

#include <gtest/gtest.h>

using serial::TelnetBytes;
using serial::TelnetCodec;
namespace telnet = serial::telnet;

namespace {

TelnetBytes Hex(std::initializer_list<int> values) {
    TelnetBytes bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

struct Decoded {
    bool ok;
    TelnetBytes data;
    TelnetBytes reply;
};

Decoded Feed(TelnetCodec& codec, const TelnetBytes& in) {
    Decoded out{};
    out.ok = codec.Decode(in.data(), in.size(), out.data, out.reply);
    return out;
}

} // namespace

TEST(TelnetCodecTest, EveryByteValuePassesBothWaysInAnySplit) {
    TelnetBytes all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<std::uint8_t>(i));
        all.push_back(0xFF);
    }
    TelnetBytes wire;
    TelnetCodec::EncodeData(all.data(), all.size(), wire);
    EXPECT_EQ(wire.size(), all.size() + 257); // each 0xFF doubled
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, wire.size()}) {
        TelnetCodec codec;
        TelnetBytes data;
        TelnetBytes reply;
        for (std::size_t at = 0; at < wire.size(); at += chunk) {
            ASSERT_TRUE(
                codec.Decode(wire.data() + at, std::min(chunk, wire.size() - at), data, reply));
        }
        EXPECT_EQ(data, all) << "chunk " << chunk;
        EXPECT_TRUE(reply.empty());
    }
}

TEST(TelnetCodecTest, NegotiatesWithTheServerAndReadsItsAnswers) {
    TelnetCodec codec;
    TelnetBytes opening;
    codec.Begin(opening);
    EXPECT_EQ(opening, Hex({255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
    TelnetBytes request;
    codec.RequestLineFormat({.bitRate = 16457}, request);
    const TelnetBytes rateRequest = Hex({255, 250, 44, 1, 0, 0, 0x40, 0x49, 255, 240});
    EXPECT_TRUE(std::equal(rateRequest.begin(), rateRequest.end(), request.begin()));

    // What the server sends on connection and in answer, with its own offer of echoing.
    const Decoded got = Feed(
        codec, Hex({255,  251,  3,   255, 253, 3,   255,  251, 1,   255, 254, 1,   255, 253, 0,
                    255,  251,  0,   255, 253, 44,  255,  253, 3,   'a', 255, 250, 44,  107, 0x0A,
                    255,  240,  255, 250, 44,  106, 0x08, 255, 240, 255, 250, 44,  101, 0,   0,
                    0x40, 0x49, 255, 240, 255, 250, 44,   102, 8,   255, 240, 255, 250, 44,  103,
                    1,    255,  240, 255, 250, 44,  104,  1,   255, 240, 'b'}));
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.data, Hex({'a', 'b'}));
    EXPECT_EQ(got.reply, Hex({255, 254, 1})); // no remote echo: it would double the bus echo
    EXPECT_TRUE(codec.ComPortAccepted());
    EXPECT_EQ(codec.Answers().bitRate, 16457u);
    EXPECT_FALSE(codec.LineFormatAnswered()); // the flow control is still to be answered
    ASSERT_TRUE(Feed(codec, Hex({255, 250, 44, 105, 1, 255, 240})).ok);
    EXPECT_TRUE(codec.LineFormatAnswered());
    EXPECT_EQ(codec.TakeLineState(), telnet::LineFrameError);
    EXPECT_EQ(codec.TakeLineState(), 0);
    EXPECT_EQ(codec.TakeModemState(), telnet::ModemDeltaCd | telnet::ModemDeltaDsr);

    // Repeated requests for what is already agreed are not answered, so no loop can start.
    EXPECT_TRUE(Feed(codec, Hex({255, 253, 0, 255, 251, 0, 255, 253, 44})).reply.empty());
    const Decoded refused = Feed(codec, Hex({255, 254, 44}));
    EXPECT_TRUE(refused.ok);
    EXPECT_TRUE(codec.ComPortRefused());
    EXPECT_FALSE(codec.ComPortAccepted());
}

TEST(TelnetCodecTest, GarbageTelnetBreaksTheStreamForGood) {
    const std::vector<TelnetBytes> garbage = {
        Hex({255, 17}),                           // IAC before a byte that is no command
        Hex({255, 240}),                          // SE outside a subnegotiation
        Hex({255, 250, 44, 101, 0, 1, 255, 240}), // bit-rate answer of two bytes
        Hex({255, 250, 44, 106, 255, 250}),       // IAC SB inside a subnegotiation
        Hex({255, 250, 255, 240}),                // empty subnegotiation
    };
    for (const TelnetBytes& bad : garbage) {
        TelnetCodec codec;
        TelnetBytes stream = Hex({'x'});
        stream.insert(stream.end(), bad.begin(), bad.end());
        const Decoded got = Feed(codec, stream);
        EXPECT_FALSE(got.ok);
        EXPECT_TRUE(codec.Broken());
        EXPECT_FALSE(Feed(codec, Hex({'y'})).ok);
    }
    TelnetCodec endless;
    TelnetBytes open = Hex({255, 250, 44, 100});
    open.resize(open.size() + TelnetCodec::MaxSubnegotiation, 'z');
    EXPECT_FALSE(Feed(endless, open).ok);
    // Other options' subnegotiations and the no-operation commands are let by.
    TelnetCodec lenient;
    const Decoded passed = Feed(lenient, Hex({255, 250, 24, 1, 255, 240, 255, 241, 'q'}));
    EXPECT_TRUE(passed.ok);
    EXPECT_EQ(passed.data, Hex({'q'}));
}
