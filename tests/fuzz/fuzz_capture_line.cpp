// Arbitrary bytes as a line of a capture file read back, and as bytes on the bus cut into
// frames. Invariants: a line is never fatal; a good line is written back by the monitor as the
// same line and its bytes are a message the monitor shows (or a raw line of 20 bytes); a
// damaged or foreign line says why; every byte lands in exactly one frame, and the whole
// frames are exactly the receive assembler's messages.
#include "busproto/frame_splitter.h"
#include "monitor/capture_reader.h"
#include "monitor/traffic/line_kind.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CaptureLine line = ParseCaptureLine(text);
    Require(line.line.length >= 0 && line.line.length <= TrafficLine::kMaxBytes);
    if (line.mark == LineMark::Good) {
        Require(line.reason == nullptr);
        const CaptureLine again = ParseCaptureLine(LineText(line.line));
        Require(again.mark == LineMark::Good && LineText(again.line) == LineText(line.line));
        if (line.line.kind == TrafficLine::Kind::Raw)
            Require(line.line.length == TrafficLine::kRawLineBytes);
        else
            Require(MessageProblem(line.line) == nullptr);
    } else {
        Require(line.reason != nullptr);
    }

    CRxAssembler rx;
    std::vector<std::vector<std::uint8_t>> messages;
    for (std::size_t i = 0; i < size; ++i)
        if (rx.Step(data[i]))
            messages.emplace_back(rx.m_rxBuf, rx.m_rxBuf + rx.m_nRxCount);
    std::size_t bytes = 0;
    std::vector<std::vector<std::uint8_t>> whole;
    CFrameSplitter splitter([&](const std::uint8_t* frame, int count, FrameEnd end) {
        Require(count > 0);
        bytes += static_cast<std::size_t>(count);
        if (end == FrameEnd::Whole)
            whole.emplace_back(frame, frame + count);
    });
    splitter.Push(data, size);
    splitter.Flush();
    Require(bytes == size);
    Require(whole == messages);
    return 0;
}
