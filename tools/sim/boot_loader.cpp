#include "tools/sim/boot_loader.h"

#include "loader/kfw_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string Format(const char* format, auto... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

double ToMs(Nanos t) {
    return static_cast<double>(t) / kNanosPerMs;
}

// The address ranges [first, end) of the data records of a stored KFW image.
std::vector<std::pair<std::uint32_t, std::uint32_t>>
RecordRanges(const std::vector<std::uint8_t>& image) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    std::size_t offset = 0;
    while (offset + kfw::kRecordDataOffset <= image.size() && image[offset] != 0) {
        const std::uint32_t length = image[offset];
        const std::uint32_t address =
            image[offset + 1] << 16 | image[offset + 2] << 8 | image[offset + 3];
        if (image[offset + kfw::kRecordTypeOffset] == 0)
            ranges.emplace_back(address, address + length);
        offset += length + kfw::kRecordOverhead;
    }
    return ranges;
}

// The loader writes a message again after at most 50 ms without its echo. The same bytes after
// a longer gap are a new message: the third IplSetup of BlockTiming comes 300 ms after the
// second one failed.
constexpr Nanos kRepeatWindow = Ms(200);
// It waits at least 50 ms for an echo before it writes again; a new message with the same bytes
// follows its echo sooner (allow a little for the clocks of both sides).
constexpr Nanos kLateRepeatGap = Ms(48);

} // namespace

struct CBootLoader::Session {
    int number = 0;
    Nanos start = 0;
    Nanos lastArrival = 0;
    int firstWrite = 0;
    int setups = 0; // IplSetup messages, repeats excluded
    bool setupTaken = false;
    bool hasRecords = false;
    bool hasAddress = false;
    std::uint32_t address = 0;
    int records = 0;
    DownloadReport report;
    std::unique_ptr<CPauseChecker> checker;
};

CBootLoader::CBootLoader(const SimConfig& config, LineSink log, LineSink report)
    : m_config(config), m_log(std::move(log)), m_report(std::move(report)) {}

CBootLoader::~CBootLoader() = default;

bool CBootLoader::OnWrite(int writeIndex, Nanos arrival, const std::uint8_t* message, int length,
                          bool echoed, Nanos wireTime, int bitRate) {
    std::uint8_t kind = 0;
    std::uint8_t data[8];
    if (!DecodeIplMessage(message, length, &kind, data))
        return false;
    // A download starts when the first IplSetup of a session is taken; the session may be one
    // that this very message opens.
    const int sessionBefore = m_session ? m_session->number : 0;
    const bool setupBefore = m_session && m_session->setupTaken;

    const bool same = m_send && arrival - m_send->lastArrival < kRepeatWindow &&
                      std::memcmp(m_send->bytes, message, kIplMessageLength) == 0;
    // A loader that saw the echo too late writes the message again although it went out. The
    // same IplSetup after its echo is the repeat that BlockTiming sends on purpose.
    const bool lateRepeat = same && m_send->echoTime >= 0 && kind != IplSetup &&
                            arrival - m_send->lastArrival >= kLateRepeatGap;
    if (same && (m_send->echoTime < 0 || lateRepeat)) {
        if (lateRepeat)
            m_log(Format("boot loader: %s written again %.1f ms after its echo went out",
                         IplMessageKindName(kind), ToMs(arrival - m_send->echoTime)));
        m_send->lastWrite = writeIndex;
        m_send->lastArrival = arrival;
    } else {
        const bool blockSetup = data[4] == 2;
        if (kind == IplSetup &&
            (!m_session || m_session->hasRecords || !blockSetup || m_session->setups >= 3))
            StartSession(writeIndex, arrival);
        std::optional<Send> previous = m_send;
        m_send = Send();
        m_send->firstWrite = m_send->lastWrite = writeIndex;
        m_send->firstArrival = m_send->lastArrival = arrival;
        std::memcpy(m_send->bytes, message, kIplMessageLength);
        if (!m_session) {
            m_log(Format("boot loader: %s without a download ignored", IplMessageKindName(kind)));
            return false;
        }
        Session& s = *m_session;
        const int index = s.report.messages++;
        if (kind == IplSetup)
            ++s.setups;
        else
            s.hasRecords = true;
        if (s.checker) {
            const bool inSession = previous && previous->firstWrite >= s.firstWrite;
            const Nanos reference = !inSession                ? -1
                                    : previous->echoTime >= 0 ? previous->echoTime
                                                              : previous->lastArrival;
            const Nanos pause = reference < 0 ? -1 : arrival - reference;
            const std::size_t before = s.checker->Violations().size();
            s.checker->OnMessage(index, kind, data, pause, inSession && previous->echoTime >= 0);
            for (std::size_t i = before; i < s.checker->Violations().size(); ++i)
                m_log("download check: " + s.checker->Violations()[i]);
        }
    }
    if (!m_session)
        return false;
    Session& s = *m_session;
    ++s.report.writes;
    s.report.wireTime += wireTime;
    s.report.bitRate = bitRate;
    s.lastArrival = arrival;
    if (echoed && !m_send->taken) {
        m_send->taken = true;
        Take(kind, data);
    }
    return m_session && m_session->setupTaken &&
           (m_session->number != sessionBefore || !setupBefore);
}

void CBootLoader::OnEchoWritten(int writeIndex, Nanos when) {
    if (m_send && m_send->echoTime < 0 && writeIndex >= m_send->firstWrite &&
        writeIndex <= m_send->lastWrite)
        m_send->echoTime = when;
}

void CBootLoader::StartSession(int writeIndex, Nanos arrival) {
    if (m_session)
        EndSession(false);
    m_session = std::make_unique<Session>();
    m_session->number = ++m_downloads;
    m_session->start = arrival;
    m_session->firstWrite = writeIndex;
    if (m_config.expect) {
        m_session->checker = std::make_unique<CPauseChecker>(*m_config.expect);
        m_session->report.checked = true;
    }
    m_image.clear();
}

void CBootLoader::Take(std::uint8_t kind, const std::uint8_t* data) {
    Session& s = *m_session;
    switch (kind) {
    case IplSetup:
        if (!s.setupTaken) {
            s.setupTaken = true;
            std::memcpy(m_setup, data, 8);
            m_log(Format("download %d: IplSetup manufacturer %d product %d hardware %d software "
                         "%s options %d erase blocks %d",
                         s.number, data[0], data[1], data[2], VersionText(data[3]).c_str(), data[4],
                         data[6]));
        }
        break;
    case IplAddress:
        s.address = static_cast<std::uint32_t>(data[0] << 16 | data[1] << 8 | data[2]);
        s.hasAddress = true;
        ++s.records;
        break;
    case IplData:
        if (!s.hasAddress) {
            m_log(Format("download %d: IplData before any IplAddress ignored", s.number));
            break;
        }
        for (int i = 0; i < 8; ++i)
            m_image[(s.address + i) & 0xFFFFFF] = data[i];
        s.address += 8;
        break;
    case IplEnd:
        EndSession(true);
        break;
    default:
        break;
    }
}

void CBootLoader::CheckImage(DownloadReport& report) const {
    int differences = 0;
    std::string first;
    std::size_t offset = 0;
    const auto& image = m_config.expect->image;
    while (offset + kfw::kRecordDataOffset <= image.size() && image[offset] != 0) {
        const int length = image[offset];
        const std::uint32_t address =
            image[offset + 1] << 16 | image[offset + 2] << 8 | image[offset + 3];
        for (int i = 0; i < length && offset + kfw::kRecordDataOffset + i < image.size(); ++i) {
            const std::uint8_t want = image[offset + kfw::kRecordDataOffset + i];
            const auto got = m_image.find(address + i);
            if (got != m_image.end() && got->second == want)
                continue;
            if (differences++ == 0)
                first = got == m_image.end() ? Format("image lacks the byte at %06X", address + i)
                                             : Format("image differs at %06X: %02X, expected %02X",
                                                      address + i, got->second, want);
        }
        offset += length + kfw::kRecordOverhead;
    }
    if (differences > 0)
        report.violations.push_back(first + Format(" (%d bytes differ)", differences));
}

void CBootLoader::EndSession(bool ended) {
    Session& s = *m_session;
    DownloadReport& r = s.report;
    r.ended = ended;
    r.duration = s.lastArrival - s.start;
    if (s.checker) {
        r.complete = s.checker->Complete() && r.ended;
        r.stopped = s.checker->Stopped();
        r.pauses = s.checker->Pauses();
        r.medianSlacks = s.checker->MedianSlacks();
        r.violations = s.checker->Violations();
        if (r.complete)
            CheckImage(r);
    }

    const std::string tag = Format("download %d: ", s.number);
    std::uint32_t low = 0, high = 0;
    if (!m_image.empty()) {
        low = m_image.begin()->first;
        high = m_image.rbegin()->first;
    }
    m_report(tag +
             Format("%d messages (%d writes), %d records, %zu image bytes", r.messages, r.writes,
                    s.records, m_image.size()) +
             (m_image.empty() ? "" : Format(" at %06X..%06X", low, high)));
    m_report(tag + Format("duration %.3f s, wire time %.3f s at %d bit/s",
                          static_cast<double>(r.duration) / 1e9,
                          static_cast<double>(r.wireTime) / 1e9, r.bitRate));
    for (const auto& [kind, stat] : r.pauses)
        m_report(tag + Format("pause %s: %d checked, shortest slack %.3f ms at message %d",
                              kind.c_str(), stat.count, ToMs(stat.shortestSlack),
                              stat.shortestIndex));
    for (const std::string& v : r.violations)
        m_report(tag + "violation: " + v);
    if (!r.ended)
        m_report(tag + "ended without IplEnd");
    if (r.checked && r.complete && r.violations.empty())
        m_report(tag + "image matches " + m_config.expect->path);
    if (r.checked)
        m_report(tag + (r.Ok()      ? "result OK"
                        : r.stopped ? "result FAILED (stopped)"
                        : !r.complete
                            ? "result FAILED (incomplete)"
                            : Format("result FAILED (%zu violations)", r.violations.size())));
    m_reports.push_back(r);
    m_session.reset();
    if (!m_config.imageOut.empty())
        WriteImage();
}

void CBootLoader::WriteImage() const {
    std::map<std::uint32_t, std::uint8_t> bytes;
    if (m_config.expect) {
        for (const auto& [begin, end] : RecordRanges(m_config.expect->image))
            for (auto it = m_image.lower_bound(begin); it != m_image.end() && it->first < end; ++it)
                bytes.insert(*it);
    } else {
        bytes = m_image;
    }
    const std::string& path = m_config.imageOut;
    std::vector<std::uint8_t> flat;
    std::uint32_t low = 0;
    if (!bytes.empty()) {
        low = bytes.begin()->first;
        flat.assign(bytes.rbegin()->first - low + 1, 0xFF); // erased flash in the gaps
        for (const auto& [address, value] : bytes)
            flat[address - low] = value;
    }
    bool ok = false;
    if (m_config.imageFormat == ImageFormat::Kfw) {
        kfw::FirmwareHeader header;
        if (m_config.expect) {
            header = m_config.expect->header;
        } else {
            header.manufacturer = m_setup[0];
            header.product = m_setup[1];
            header.hardware = m_setup[2];
            header.software = m_setup[3];
            header.options = m_setup[4];
        }
        kfw::KfwWriteOptions options;
        options.startAddress = low;
        ok = kfw::WriteFirmwareFile(path, header, flat, options);
    } else if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(flat.data(), 1, flat.size(), file) == flat.size();
        ok = std::fclose(file) == 0 && ok;
    }
    m_log(ok ? Format("image written to %s (%zu bytes from %06X)", path.c_str(), flat.size(), low)
             : Format("cannot write the image to %s", path.c_str()));
}

void CBootLoader::Finish() {
    if (m_session)
        EndSession(false);
}
