#pragma once
// Display lines as pcap packets: a message line is one packet, with its time stamp when it
// carries one; raw lines are joined again and cut into frames as the receive assembler would
// cut them, so that every byte of the bus is in one packet.

#include "busproto/frame_splitter.h"
#include "monitor/pcap_writer.h"
#include "monitor/traffic/traffic_line.h"
#include "monitor/traffic/traffic_store.h"

// The time of a time-stamp prefix (local time) in microseconds since 1970, UTC.
std::int64_t EpochUsOfStamp(const StampTime& time);

class CPcapExport {
public:
    explicit CPcapExport(CPcapWriter& writer);

    // False when the writer failed.
    bool Add(const TrafficLine& line);
    // Hands over a raw frame still under way.
    bool Finish();
    std::int64_t Packets() const { return m_packets; }

private:
    bool Write(std::int64_t epochUs, const std::uint8_t* bytes, int count);

    CPcapWriter& m_writer;
    CFrameSplitter m_splitter;
    bool m_ok = true;
    std::int64_t m_packets = 0;
};

struct CaptureConversion {
    std::int64_t lines = 0;
    std::int64_t packets = 0;
    std::int64_t damaged = 0; // written all the same, for the dissector to show
    std::int64_t foreign = 0; // not bytes: left out
    QString error;            // empty on success
};

// Reads capture file `in` and writes pcap file `out`.
CaptureConversion ConvertCaptureToPcap(const QString& in, const QString& out);
// Writes the lines of `store` (all of them, whatever a filter shows) as pcap file `out`.
CaptureConversion ExportLinesAsPcap(const CTrafficStore& store, const QString& out);
