// Feeds arbitrary bytes to the receive assembler. The first byte names a value that stands
// for a line error wherever it comes again. Invariants: never more than 32 bytes held; every
// reported message starts with an opcode, has the length its opcode (and count byte) gives and
// a valid checksum; a line-error reset returns to the idle state.
#include "busproto/checksum.h"
#include "busproto/rx_assembler.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// The length a message of this opcode must have. A count byte below 4 cannot end the message
// before its first data byte and the checksum have come.
int LengthFor(const std::uint8_t* message) {
    const int length = BusMessageLength(message[0], message[1]);
    return (message[0] & 0xE0) == 0xE0 ? std::max(length, 4) : length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t lineError = data[0];
    CRxAssembler rx;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == lineError) {
            rx.ResetAfterLineError();
            Require(rx.m_nRxState == 0 && rx.m_nRxExpected == 0);
            continue;
        }
        const bool complete = rx.Step(data[i]);
        Require(rx.m_nRxCount >= 0 && rx.m_nRxCount <= CRxAssembler::kMaxBytes);
        Require(rx.m_nRxState >= 0 && rx.m_nRxState <= 3);
        if (complete) {
            Require(IsOpcode(rx.m_rxBuf[0]));
            Require(rx.m_nRxCount == LengthFor(rx.m_rxBuf));
            Require(ComputeChecksum(rx.m_nRxCount, rx.m_rxBuf) == 0);
            for (int k = 1; k < rx.m_nRxCount; ++k)
                Require(!IsOpcode(rx.m_rxBuf[k]));
            Require(rx.m_nRxState == 0);
        }
    }
    return 0;
}
