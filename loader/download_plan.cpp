#include "loader/download_plan.h"

#include <algorithm>

namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int kIplBytes = 16;
constexpr int kIplPayload = 8;
constexpr int kBlockTimingOptions = 2;
constexpr int kDefaultEraseBlock = 1024;
constexpr int kMaxRecordPause = 250;

// Adds up a run as the engine goes through it.
class PlanBuilder {
public:
    explicit PlanBuilder(std::uint32_t bitRate) : m_wirePerMessage(IplMessageWireNs(bitRate)) {}

    void Message(int count = 1) {
        m_now.messages += count;
        m_now.wireNs += m_wirePerMessage * count;
    }
    void Pause(std::int64_t milliseconds) {
        if (milliseconds > 0) {
            m_now.pauseNs += milliseconds * kNsPerMs;
        }
    }
    void Mark(int offset) {
        m_now.offset = offset;
        m_plan.marks.push_back(m_now);
    }
    DownloadPlan Finish() {
        m_plan.total = m_now;
        return std::move(m_plan);
    }

private:
    std::int64_t m_wirePerMessage;
    DownloadMark m_now;
    DownloadPlan m_plan;
};

int DataMessages(int recordLength) {
    return (recordLength + kIplPayload - 1) / kIplPayload;
}

} // namespace

std::int64_t IplMessageWireNs(std::uint32_t bitRate) {
    if (bitRate == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(kIplBytes) * kBitsPerByte * 1000000000LL / bitRate;
}

DownloadPlan PlanDownload(const kfw::FirmwareHeader& header, const std::uint8_t* image, int length,
                          std::uint32_t bitRate) {
    PlanBuilder plan(bitRate);
    plan.Mark(0);
    length = std::clamp(length, 0, kfw::kImageBufferSize);
    const bool blockTiming = header.options == kBlockTimingOptions;
    const int recordPause = std::clamp(header.delay, 0, kMaxRecordPause);
    if (blockTiming) {
        const int eraseBlk = header.eraseBlk == 0 ? kDefaultEraseBlock : header.eraseBlk;
        const std::int64_t range =
            static_cast<std::int64_t>(header.lastAddress) - header.firstAddress;
        std::int64_t eraseBlocks = range / eraseBlk;
        if (range % eraseBlk != 0) {
            ++eraseBlocks;
        }
        // Two set-up messages 35 ms apart, 100 ms, then the erase wait as a 32-bit product.
        plan.Message();
        plan.Pause(35);
        plan.Message();
        plan.Pause(100);
        plan.Pause(static_cast<std::int32_t>(
            static_cast<std::int64_t>(static_cast<int>(eraseBlocks)) * header.eraseDly));
    } else {
        plan.Message();
        plan.Pause(100);
    }
    int programmed = 0;
    int offset = 0;
    while (offset < length && image[offset] != 0) {
        const int recordLength = image[offset];
        plan.Message(); // address
        plan.Pause(blockTiming ? 1 : 5);
        const int data = DataMessages(recordLength);
        plan.Message(data);
        if (!blockTiming && recordPause != 0) {
            plan.Pause(static_cast<std::int64_t>(data) * 8);
            plan.Pause(recordPause + 50);
        }
        offset += recordLength + kfw::kRecordOverhead;
        plan.Mark(offset);
        if (blockTiming) {
            programmed += recordLength;
            if (programmed >= header.progBlk) {
                programmed = 0;
                plan.Pause(header.delay);
            }
        }
    }
    plan.Message();  // end
    plan.Pause(100); // the worker's pause after closing the port
    return plan.Finish();
}

const DownloadMark& MarkAt(const DownloadPlan& plan, int offset) {
    const auto after =
        std::upper_bound(plan.marks.begin(), plan.marks.end(), offset,
                         [](int value, const DownloadMark& mark) { return value < mark.offset; });
    if (after == plan.marks.begin()) {
        return plan.marks.front();
    }
    return *std::prev(after);
}
