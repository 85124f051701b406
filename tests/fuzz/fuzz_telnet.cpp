// Feeds arbitrary server bytes to the Telnet codec, cut into pieces at places the first byte
// chooses. Invariants: never more data out than bytes in; answers are whole three-byte
// negotiations; a broken stream stays broken; and the data, escaped again, decodes to itself.
#include "serial/telnet_codec.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece = data[0] % 7 + 1;
    serial::TelnetCodec codec;
    serial::TelnetBytes opening;
    codec.Begin(opening);
    serial::TelnetBytes decoded;
    serial::TelnetBytes reply;
    bool broken = false;
    for (std::size_t at = 1; at < size; at += piece) {
        const std::size_t length = std::min(piece, size - at);
        const bool ok = codec.Decode(data + at, length, decoded, reply);
        Require(ok == !codec.Broken());
        Require(!(broken && ok));
        broken = !ok;
    }
    Require(decoded.size() <= size);
    Require(reply.size() % 3 == 0);
    for (std::size_t i = 0; i < reply.size(); i += 3) {
        Require(reply[i] == serial::telnet::Iac);
        Require(reply[i + 1] >= serial::telnet::Will && reply[i + 1] <= serial::telnet::Dont);
    }
    serial::TelnetBytes wire;
    serial::TelnetCodec::EncodeData(decoded.data(), decoded.size(), wire);
    serial::TelnetCodec again;
    serial::TelnetBytes roundTrip;
    serial::TelnetBytes none;
    Require(again.Decode(wire.data(), wire.size(), roundTrip, none));
    Require(roundTrip == decoded && none.empty());
    codec.TakeLineState();
    codec.TakeModemState();
    return 0;
}
