#pragma once
// Cuts a received byte stream into frames for tools that show every byte, not only the good
// messages: each frame is a whole message, a message with a wrong checksum, a message cut
// short (by an opcode, a line error, the 32-byte limit or the end of the stream) or a run of
// bytes without an opcode. It follows the receive assembler byte for byte, so a frame it
// calls whole is exactly a message the monitor shows.

#include "busproto/rx_assembler.h"

#include <cstdint>
#include <functional>
#include <vector>

enum class FrameEnd : std::uint8_t { Whole, BadChecksum, CutShort, NoOpcode };

class CFrameSplitter {
public:
    using Sink = std::function<void(const std::uint8_t* bytes, int count, FrameEnd end)>;

    explicit CFrameSplitter(Sink sink) : m_sink(std::move(sink)) {}

    void Push(std::uint8_t b);
    void Push(const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            Push(data[i]);
    }
    // A line error: the frame under way ends there.
    void LineError();
    // The end of the stream: hands over the frame under way.
    void Flush();

private:
    void Emit(FrameEnd end);
    FrameEnd Unfinished() const {
        return m_rx.m_nRxState != 0 ? FrameEnd::CutShort : FrameEnd::NoOpcode;
    }

    Sink m_sink;
    CRxAssembler m_rx;
    std::vector<std::uint8_t> m_frame;
};
