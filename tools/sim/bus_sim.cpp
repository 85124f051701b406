#include "tools/sim/bus_sim.h"

#include "busproto/checksum.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Format(const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// Traffic goes out in batches of about this much line time, so that a full line at a high rate
// does not need a wake-up per message.
constexpr Nanos kTrafficBatch = Ms(2);

// Pacing of generated traffic when the program has set no rate.
constexpr int kDefaultBitRate = 16457;

} // namespace

CBusSim::CBusSim(const SimConfig& config, LineSink log, LineSink report)
    : m_config(config), m_log(log), m_boot(config, log, std::move(report)),
      m_traffic(config.traffic) {}

void CBusSim::SetLineFormat(const LineFormat& line) {
    if (line == m_line)
        return;
    m_line = line;
    Log(Format("line: %d bit/s, %d bits per character", line.bitRate, line.bitsPerChar));
}

Nanos CBusSim::Wire(std::size_t bytes) const {
    return m_config.wireTime ? m_line.WireTime(bytes) : 0;
}

void CBusSim::LogBytes(const char* what, const std::uint8_t* bytes, std::size_t count) const {
    std::string text = what;
    for (std::size_t i = 0; i < count; ++i)
        text += Format(" %02X", bytes[i]);
    Log(text);
}

void CBusSim::PortOpened(Nanos now) {
    m_open = true;
    m_rx.Reset();
    m_inFree = m_outFree = now;
    const TrafficConfig& t = m_config.traffic;
    if (t.loadPercent > 0)
        m_nextTraffic = now;
    if (t.burstCount > 0 && t.burstEvery > 0)
        m_nextBurst = now + t.burstEvery;
    if (m_replayLine < t.replayLines.size())
        m_nextReplay = now;
    if (m_config.ping.once >= 0)
        m_nextPing = now + m_config.ping.once;
    else if (m_config.ping.every > 0)
        m_nextPing = now + m_config.ping.every;
}

void CBusSim::PortClosed() {
    m_open = false;
    m_out.clear();
    m_rx.Reset();
    m_nextTraffic = m_nextBurst = m_nextReplay = m_nextPing = kNever;
}

void CBusSim::Receive(Nanos arrival, const std::uint8_t* bytes, std::size_t count) {
    const Nanos byteTime = Wire(1);
    for (std::size_t i = 0; i < count; ++i) {
        m_inFree = std::max(m_inFree, arrival) + byteTime;
        if (IsOpcode(bytes[i]))
            m_messageArrival = arrival;
        if (m_rx.Step(bytes[i]))
            OnMessage(m_rx.m_rxBuf, m_rx.m_nRxCount, m_messageArrival, m_inFree);
    }
}

Nanos CBusSim::Queue(Nanos earliest, std::vector<std::uint8_t> bytes, int echoOf) {
    const Nanos due = std::max(earliest, m_outFree + Wire(bytes.size()));
    m_outFree = due;
    m_out.push_back({due, std::move(bytes), echoOf});
    return due;
}

void CBusSim::OnMessage(const std::uint8_t* message, int length, Nanos arrival, Nanos complete) {
    const int index = m_writes++;
    const int number = index + 1; // echoes are counted from 1
    if (m_config.verbose)
        LogBytes(Format("rx %d:", number).c_str(), message, length);

    const EchoFaults& f = m_config.faults;
    const char* withheld = f.none                                         ? "no echo"
                           : number <= f.dropFirst                        ? "drop-first"
                           : f.dropEvery > 0 && number % f.dropEvery == 0 ? "drop-every"
                           : complete < m_busyUntil                       ? "busy"
                                                                          : nullptr;
    const bool corrupt = !withheld && number == f.corruptNth;
    Nanos echoDue = complete + f.delay;
    if (withheld) {
        if (!f.none)
            Log(Format("echo %d withheld (%s)", number, withheld));
    } else {
        std::vector<std::uint8_t> echo(message, message + length);
        if (corrupt) {
            const int at = std::min(2, length - 1);
            echo[at] ^= 0x01; // stays below 0x80, so the frame holds and the checksum fails
            Log(Format("echo %d corrupted at byte %d", number, at));
        }
        echoDue = Queue(echoDue, std::move(echo), corrupt ? -1 : index);
    }

    const bool echoed = !withheld && !corrupt;
    if (m_boot.OnWrite(index, arrival, message, length, echoed, m_line.WireTime(length),
                       m_line.bitRate) &&
        f.busyAfterSetup > 0) {
        m_busyUntil = echoDue + f.busyAfterSetup;
        Log(Format("boot loader busy for %lld ms",
                   static_cast<long long>(f.busyAfterSetup / kNanosPerMs)));
    }
    if (echoed)
        OnDeviceRequest(message, length, echoDue);
}

void CBusSim::OnDeviceRequest(const std::uint8_t* message, int length, Nanos echoDue) {
    std::uint8_t group = 0, code = 0, data[12];
    if (!DecodeDeviceMessage(message, length, &group, &code, data) || group != kDeviceGroup ||
        code != kRequestCode)
        return;
    if (data[2] == 1) {
        const std::uint32_t serial = data[5] | data[6] << 8 | data[7] << 16;
        const auto it = std::find_if(
            m_config.devices.begin(), m_config.devices.end(),
            [&](const DeviceInfo& d) { return d.product == data[0] && d.serial == serial; });
        if (it == m_config.devices.end())
            Log(Format("identify: product %d serial %06X: no such device", data[0], serial));
        else
            Log(Format("identify: product %d serial %06X: device %d identifies itself", data[0],
                       serial, static_cast<int>(it - m_config.devices.begin()) + 1));
        return;
    }
    if (data[5] != 1) {
        Log("device request with unknown payload ignored");
        return;
    }
    int replies = 0;
    for (const DeviceInfo& device : m_config.devices) {
        if (data[0] != 0 && data[0] != device.product)
            continue;
        std::vector<std::uint8_t> reply(kDeviceMessageLength);
        BuildDeviceReply(device, reply.data());
        Queue(echoDue, std::move(reply));
        ++replies;
    }
    Log(Format("discover (product filter %d): %d replies", data[0], replies));
}

void CBusSim::SendPing(Nanos now) {
    std::vector<std::uint8_t> ping(kDeviceMessageLength);
    BuildPingReply(0, m_config.ping.localRssi, m_config.ping.remoteRssi, ping.data());
    Queue(now, std::move(ping));
    Log(Format("ping reply: local %02X remote %02X", m_config.ping.localRssi,
               m_config.ping.remoteRssi));
}

void CBusSim::Generate(Nanos now) {
    if (!m_open)
        return;
    const TrafficConfig& t = m_config.traffic;
    LineFormat pace = m_line;
    if (pace.bitRate <= 0)
        pace.bitRate = kDefaultBitRate;
    while (m_nextTraffic <= now) {
        const Nanos start = std::max(m_nextTraffic, m_outFree);
        std::vector<std::uint8_t> batch;
        while (batch.empty() || pace.WireTime(batch.size()) < kTrafficBatch)
            m_traffic.AppendMessage(batch);
        const Nanos lineTime = pace.WireTime(batch.size());
        Queue(start + Wire(batch.size()), std::move(batch));
        m_nextTraffic = start + static_cast<Nanos>(static_cast<double>(lineTime) * 100.0 /
                                                   std::min(t.loadPercent, 100.0));
    }
    while (m_nextBurst <= now) {
        std::vector<std::uint8_t> burst;
        for (int i = 0; i < t.burstCount; ++i)
            m_traffic.AppendMessage(burst);
        Queue(m_nextBurst, std::move(burst));
        m_nextBurst += t.burstEvery;
    }
    while (m_nextReplay <= now) {
        const auto& line = t.replayLines[m_replayLine];
        const Nanos due = Queue(m_nextReplay, line);
        m_nextReplay = due + t.replayGap;
        if (++m_replayLine == t.replayLines.size()) {
            m_nextReplay = kNever;
            Log(Format("replay: %zu lines sent", t.replayLines.size()));
        }
    }
    if (m_nextPing <= now) {
        SendPing(now);
        m_nextPing = m_config.ping.every > 0 ? now + m_config.ping.every : kNever;
    }
}

Nanos CBusSim::NextDue() const {
    Nanos next = m_out.empty() ? kNever : m_out.front().due;
    return std::min({next, m_nextTraffic, m_nextBurst, m_nextReplay, m_nextPing});
}

Nanos CBusSim::NextEchoDue() const {
    return !m_out.empty() && m_out.front().echoOf >= 0 ? m_out.front().due : kNever;
}

void CBusSim::TakeDue(Nanos now, std::vector<std::uint8_t>& out) {
    Generate(now);
    while (!m_out.empty() && m_out.front().due <= now) {
        Outgoing& o = m_out.front();
        if (m_config.verbose)
            LogBytes("tx:", o.bytes.data(), o.bytes.size());
        out.insert(out.end(), o.bytes.begin(), o.bytes.end());
        if (o.echoOf >= 0)
            m_boot.OnEchoWritten(o.echoOf, now);
        m_out.pop_front();
    }
}

bool CBusSim::DownloadsOk() const {
    const auto& reports = m_boot.Reports();
    return !reports.empty() && std::all_of(reports.begin(), reports.end(),
                                           [](const DownloadReport& r) { return r.Ok(); });
}
