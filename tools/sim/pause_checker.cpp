#include "tools/sim/pause_checker.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Format(const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

double ToMs(Nanos t) {
    return static_cast<double>(t) / kNanosPerMs;
}

} // namespace

CPauseChecker::CPauseChecker(const ExpectedFirmware& firmware)
    : m_firmware(firmware), m_blockTiming(firmware.header.options == 2) {
    const kfw::FirmwareHeader& h = firmware.header;
    const int eraseBlk = h.eraseBlk == 0 ? 1024 : h.eraseBlk;
    // In 64 bits, so that no header value can overflow the division.
    const std::int64_t span = static_cast<std::int64_t>(h.lastAddress) - h.firstAddress;
    m_eraseCount = static_cast<int>(span / eraseBlk + (span % eraseBlk != 0 ? 1 : 0));
    m_pauseValue = std::clamp(h.delay, 0, 250);
    const int setup[8] = {h.manufacturer, h.product, h.hardware,   h.software,
                          h.options,      0,         m_eraseCount, 0};
    for (int i = 0; i < 8; ++i)
        m_setupPayload[i] = static_cast<std::uint8_t>(setup[i]);
}

int CPauseChecker::ImageByte(int offset) const {
    const auto& image = m_firmware.image;
    return offset >= 0 && offset < static_cast<int>(image.size()) ? image[offset] : -1;
}

void CPauseChecker::Violation(int index, const std::string& text) {
    m_violations.push_back(Format("message %d: ", index) + text);
}

void CPauseChecker::Check(int index, const char* what, const std::string& pauseKind, Nanos required,
                          Nanos pause) {
    if (pause < 0)
        return;
    m_slacks[pauseKind].push_back(pause - std::max<Nanos>(required, 0));
    if (required <= 0)
        return;
    PauseStat& stat = m_pauses[pauseKind];
    const Nanos slack = pause - required;
    ++stat.count;
    if (slack < stat.shortestSlack) {
        stat.shortestSlack = slack;
        stat.shortestIndex = index;
    }
    if (slack < 0)
        Violation(index, Format("%s came %.3f ms after the previous message, needs %.3f ms (%s)",
                                what, ToMs(pause), ToMs(required), pauseKind.c_str()));
}

std::map<std::string, Nanos> CPauseChecker::MedianSlacks() const {
    std::map<std::string, Nanos> medians;
    for (const auto& [kind, slacks] : m_slacks) {
        if (slacks.size() < kMinGapsForMedian)
            continue;
        std::vector<Nanos> sorted = slacks;
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), middle, sorted.end());
        medians[kind] = *middle;
    }
    return medians;
}

void CPauseChecker::OnMessage(int index, std::uint8_t kind, const std::uint8_t* data, Nanos pause,
                              bool previousConfirmed) {
    switch (m_phase) {
    case Phase::Setup:
        if (kind == IplSetup) {
            if (m_setups == 0) {
                // The first message: nothing to wait for.
            } else if (m_blockTiming && m_setups == 1) {
                Check(index, "IplSetup", "setup repeat", Ms(35), pause);
            } else if (m_blockTiming && m_setups == 2 && !previousConfirmed) {
                Check(index, "IplSetup", "setup retry", Ms(300), pause);
            } else {
                Violation(index, "one IplSetup too many");
            }
            if (!std::equal(m_setupPayload, m_setupPayload + 8, data))
                Violation(index, Format("IplSetup payload %02X %02X %02X %02X %02X %02X %02X "
                                        "%02X, expected %02X %02X %02X %02X %02X %02X %02X %02X",
                                        data[0], data[1], data[2], data[3], data[4], data[5],
                                        data[6], data[7], m_setupPayload[0], m_setupPayload[1],
                                        m_setupPayload[2], m_setupPayload[3], m_setupPayload[4],
                                        m_setupPayload[5], m_setupPayload[6], m_setupPayload[7]));
            ++m_setups;
            return;
        }
        if (m_setups == 0) {
            Violation(index, Format("the download starts with %s", IplMessageKindName(kind)));
            m_phase = Phase::OutOfStep;
            return;
        }
        if (m_blockTiming && m_setups < 2)
            Violation(index, "IplSetup was sent only once; BlockTiming repeats it after 35 ms");
        m_pending = Ms(100);
        if (m_blockTiming) {
            // The loader multiplies in 32 bits; a wait that comes out negative is no wait.
            const auto erase =
                static_cast<std::int32_t>(static_cast<std::uint32_t>(m_eraseCount) *
                                          static_cast<std::uint32_t>(m_firmware.header.eraseDly));
            m_pending += Ms(std::max(erase, 0));
        }
        m_pendingKind = m_blockTiming ? "after setup and erase" : "after setup";
        m_phase = Phase::Address;
        OnRecordBoundary(index, kind, data, pause);
        return;
    case Phase::Address:
        OnRecordBoundary(index, kind, data, pause);
        return;
    case Phase::Data:
        OnData(index, kind, data, pause);
        return;
    case Phase::Done:
        Violation(index, Format("%s after IplEnd", IplMessageKindName(kind)));
        m_phase = Phase::OutOfStep;
        return;
    case Phase::OutOfStep:
        return;
    }
}

void CPauseChecker::OnRecordBoundary(int index, std::uint8_t kind, const std::uint8_t* data,
                                     Nanos pause) {
    const int length = std::max(ImageByte(m_offset), 0);
    if (kind == IplEnd) {
        if (length == 0) {
            Check(index, "IplEnd", m_pendingKind, m_pending, pause);
        } else {
            m_stopped = true; // a stop request: the loader sleeps 200 ms before IplEnd
            Check(index, "IplEnd", "stop", std::max<Nanos>(m_pending, 0) + Ms(200), pause);
        }
        m_phase = Phase::Done;
        return;
    }
    if (kind != IplAddress || length == 0) {
        Violation(index, Format("%s where %s was due", IplMessageKindName(kind),
                                length == 0 ? "IplEnd" : "IplAddress"));
        m_phase = Phase::OutOfStep;
        return;
    }
    Check(index, "IplAddress", m_pendingKind, m_pending, pause);
    const std::uint8_t expected[8] = {static_cast<std::uint8_t>(ImageByte(m_offset + 1)),
                                      static_cast<std::uint8_t>(ImageByte(m_offset + 2)),
                                      static_cast<std::uint8_t>(ImageByte(m_offset + 3))};
    if (!std::equal(expected, expected + 8, data))
        Violation(index, Format("IplAddress %02X%02X%02X, expected %02X%02X%02X", data[0], data[1],
                                data[2], expected[0], expected[1], expected[2]));
    m_dataSent = 0;
    m_pending = Ms(m_blockTiming ? 1 : 5);
    m_pendingKind = "after address";
    m_phase = Phase::Data;
}

void CPauseChecker::OnData(int index, std::uint8_t kind, const std::uint8_t* data, Nanos pause) {
    if (kind != IplData) {
        Violation(index, Format("%s where IplData was due", IplMessageKindName(kind)));
        m_phase = Phase::OutOfStep;
        return;
    }
    Check(index, "IplData", m_pendingKind, m_pending, pause);
    const int length = std::max(ImageByte(m_offset), 0);
    const int start = m_offset + kfw::kRecordDataOffset + m_dataSent;
    for (int i = 0; i < 8; ++i) {
        const int want = ImageByte(start + i);
        if (want >= 0 && want != data[i]) {
            Violation(index, Format("IplData byte %d is %02X, expected %02X (record at offset "
                                    "%d)",
                                    i, data[i], want, m_offset));
            break;
        }
    }
    m_dataSent += 8;
    if (m_dataSent < length) {
        m_pending = !m_blockTiming && m_pauseValue != 0 ? Ms(8) : 0;
        m_pendingKind = "after data";
        return;
    }
    m_offset += length + kfw::kRecordOverhead;
    m_phase = Phase::Address;
    if (m_blockTiming) {
        m_programmed += length;
        m_pending = 0;
        m_pendingKind = "after record";
        if (m_programmed >= m_firmware.header.progBlk) {
            m_programmed = 0;
            m_pending = Ms(std::max(m_firmware.header.delay, 0));
            m_pendingKind = "program block";
        }
    } else {
        m_pending = m_pauseValue != 0 ? Ms(8 + m_pauseValue + 50) : 0;
        m_pendingKind = "after record";
    }
}
