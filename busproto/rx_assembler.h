#pragma once
// The receive assembler: turns a byte stream into complete messages with a correct checksum.
// A plain value type; each owner keeps one per open port and feeds it one byte at a time.

#include <cstdint>

class CRxAssembler {
public:
    static constexpr int kMaxBytes = 32;

    // Runs the assembler on one received byte. Returns true when `b` completed a message whose
    // bytes XOR to 0xFF; the message is then m_rxBuf[0 .. m_nRxCount). A message with a wrong
    // checksum is dropped without a report.
    bool Step(std::uint8_t b);

    // Back to the initial state (port opened).
    void Reset();

    // After a line error: restart message assembly but keep the count (the next opcode resets
    // it, and a run of non-opcode bytes still reaches the 32-byte limit).
    void ResetAfterLineError();

    int m_nRxState = 0;    // 0 opcode, 1 count byte, 2 data bytes, 3 checksum next
    int m_nRxExpected = 0; // expected total length
    int m_nRxCount = 0;    // bytes held in m_rxBuf
    std::uint8_t m_rxBuf[kMaxBytes] = {};
};
