#include "loader/download_plan.h"

#include "loader/download_steps.h"

#include <algorithm>

namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int kIplBytes = 16;

// Adds up the download's steps as the engine takes them: every message confirmed at the first
// write, every pause as long as asked.
class CPlanSteps : public CDownloadSteps {
public:
    explicit CPlanSteps(std::uint32_t bitRate) : m_wirePerMessage(IplMessageWireNs(bitRate)) {}

    DownloadPlan Finish() {
        Pause(kClosingPauseMs);
        m_plan.total = m_now;
        return std::move(m_plan);
    }
    void Mark(int offset) {
        m_now.offset = offset;
        m_plan.marks.push_back(m_now);
    }

protected:
    int Send(std::uint8_t, const std::uint8_t*) override {
        m_now.messages += 1;
        m_now.wireNs += m_wirePerMessage;
        return 1;
    }
    void Delay(int milliseconds) override { Pause(milliseconds); }
    void Sleep(int milliseconds) override { Pause(milliseconds); }
    bool Busy() override { return true; }
    void RecordDone(int offset) override { Mark(offset); }

private:
    void Pause(std::int64_t milliseconds) {
        if (milliseconds > 0) {
            m_now.pauseNs += milliseconds * kNsPerMs;
        }
    }

    std::int64_t m_wirePerMessage;
    DownloadMark m_now;
    DownloadPlan m_plan;
};

} // namespace

std::int64_t IplMessageWireNs(std::uint32_t bitRate) {
    if (bitRate == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(kIplBytes) * kBitsPerByte * 1000000000LL / bitRate;
}

DownloadPlan PlanDownload(const kfw::FirmwareHeader& header, const std::uint8_t* image, int length,
                          std::uint32_t bitRate) {
    CPlanSteps plan(bitRate);
    plan.Mark(0);
    kfw::FirmwareHeader copy = header; // the walk sets a default erase block
    plan.TransferImage(copy, image, length);
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
