#include "monitor/pcap_export.h"

#include "monitor/capture_reader.h"

#include <ctime>

std::int64_t EpochUsOfStamp(const StampTime& time) {
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1; // the prefix does not say; let the time zone rules decide
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1))
        return 0;
    return static_cast<std::int64_t>(seconds) * 1000000 + time.hundredths * 10000;
}

CPcapExport::CPcapExport(CPcapWriter& writer)
    : m_writer(writer), m_splitter([this](const std::uint8_t* bytes, int count, FrameEnd) {
          Write(0, bytes, count); // raw lines carry no time
      }) {}

bool CPcapExport::Add(const TrafficLine& line) {
    if (line.kind == TrafficLine::Kind::Raw) {
        m_splitter.Push(line.bytes, static_cast<std::size_t>(line.length));
        return m_ok;
    }
    m_splitter.Flush(); // a switch from raw data to messages
    if (line.length > 0)
        Write(line.stamped ? EpochUsOfStamp(line.time) : 0, line.bytes, line.length);
    return m_ok;
}

bool CPcapExport::Finish() {
    m_splitter.Flush();
    return m_ok;
}

bool CPcapExport::Write(std::int64_t epochUs, const std::uint8_t* bytes, int count) {
    if (!m_ok)
        return false;
    m_ok = m_writer.WritePacket(epochUs, bytes, count);
    if (m_ok)
        ++m_packets;
    return m_ok;
}

CaptureConversion ConvertCaptureToPcap(const QString& in, const QString& out) {
    CaptureConversion result;
    CCaptureReader reader;
    if (!reader.Open(in)) {
        result.error = in + QStringLiteral(": ") + reader.Error();
        return result;
    }
    CPcapWriter writer;
    if (!writer.Open(out)) {
        result.error = out + QStringLiteral(": ") + writer.Error();
        return result;
    }
    CPcapExport exporter(writer);
    CaptureLine line;
    bool ok = true;
    while (ok && reader.Next(line)) {
        ++result.lines;
        if (line.mark == LineMark::Foreign) {
            ++result.foreign;
            continue;
        }
        if (line.mark == LineMark::Damaged)
            ++result.damaged;
        ok = exporter.Add(line.line);
    }
    ok = exporter.Finish() && ok;
    result.packets = exporter.Packets();
    if (!reader.Error().isEmpty())
        result.error = in + QStringLiteral(": ") + reader.Error();
    else if (!writer.Close() || !ok)
        result.error = out + QStringLiteral(": ") + writer.Error();
    return result;
}

CaptureConversion ExportLinesAsPcap(const CTrafficStore& store, const QString& out) {
    CaptureConversion result;
    CPcapWriter writer;
    if (!writer.Open(out)) {
        result.error = out + QStringLiteral(": ") + writer.Error();
        return result;
    }
    CPcapExport exporter(writer);
    bool ok = true;
    store.Scan(0, store.Count() - 1,
               [&](std::int64_t, const TrafficLine& line) { ok = ok && exporter.Add(line); });
    ok = exporter.Finish() && ok;
    result.lines = store.Count();
    result.packets = exporter.Packets();
    if (!writer.Close() || !ok)
        result.error = out + QStringLiteral(": ") + writer.Error();
    return result;
}
