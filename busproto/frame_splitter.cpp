#include "busproto/frame_splitter.h"

#include "busproto/checksum.h"

void CFrameSplitter::Push(std::uint8_t b) {
    if (m_rx.m_nRxCount < 0 || m_rx.m_nRxCount >= CRxAssembler::kMaxBytes) {
        // The assembler drops this byte and starts afresh; it is a frame of its own here.
        const FrameEnd held = Unfinished();
        m_rx.Step(b);
        Emit(held);
        m_frame.push_back(b);
        Emit(IsOpcode(b) ? FrameEnd::CutShort : FrameEnd::NoOpcode);
        return;
    }
    int state = m_rx.m_nRxState;
    if (IsOpcode(b)) {
        Emit(Unfinished());
        state = 0;
    }
    m_frame.push_back(b);
    const bool whole = m_rx.Step(b);
    if (state == 3)
        Emit(whole ? FrameEnd::Whole : FrameEnd::BadChecksum);
}

void CFrameSplitter::LineError() {
    Emit(Unfinished());
    m_rx.ResetAfterLineError();
}

void CFrameSplitter::Flush() {
    Emit(Unfinished());
}

void CFrameSplitter::Emit(FrameEnd end) {
    if (m_frame.empty())
        return;
    m_sink(m_frame.data(), static_cast<int>(m_frame.size()), end);
    m_frame.clear();
}
