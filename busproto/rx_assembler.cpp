#include "busproto/rx_assembler.h"

#include "busproto/checksum.h"

bool CRxAssembler::Step(std::uint8_t b) {
    if (m_nRxCount < 0 || m_nRxCount >= kMaxBytes) {
        m_nRxCount = 0;
        m_nRxState = 0;
        return false;
    }
    if (IsOpcode(b)) {
        m_nRxCount = 0;
        m_nRxState = 0;
    }
    m_rxBuf[m_nRxCount++] = b;

    switch (m_nRxState) {
    case 0:
        switch (b & 0xE0) {
        case 0x80:
            m_nRxState = 3;
            m_nRxExpected = 2;
            break;
        case 0xA0:
            m_nRxState = 2;
            m_nRxExpected = 4;
            break;
        case 0xC0:
            m_nRxState = 2;
            m_nRxExpected = 6;
            break;
        case 0xE0:
            m_nRxState = 1;
            break;
        default: // a stray data byte stays stored and counted
            break;
        }
        return false;
    case 1:
        m_nRxExpected = b;
        m_nRxState = 2;
        return false;
    case 2:
        if (m_nRxCount >= m_nRxExpected - 1)
            m_nRxState = 3;
        return false;
    default: // 3: b is the checksum; the count stays until the next opcode
        m_nRxState = 0;
        return ComputeChecksum(m_nRxCount, m_rxBuf) == 0;
    }
}

void CRxAssembler::Reset() {
    m_nRxState = 0;
    m_nRxExpected = 0;
    m_nRxCount = 0;
}

void CRxAssembler::ResetAfterLineError() {
    m_nRxState = 0;
    m_nRxExpected = 0;
}
