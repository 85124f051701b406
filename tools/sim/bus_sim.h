#pragma once
// The test bus: a Trakbus interface that echoes what the program writes, the devices behind it
// (discovery replies, ping replies, a boot loader) and made-up traffic for the monitor.
//
// The engine does no input or output of its own. The program's loop (or a test) hands it the
// bytes that arrive from the program with their arrival time and asks it for the bytes that
// are due, so tests can drive it with made-up times.

#include "busproto/rx_assembler.h"
#include "tools/sim/boot_loader.h"
#include "tools/sim/line_format.h"
#include "tools/sim/sim_config.h"
#include "tools/sim/traffic.h"

#include <deque>
#include <vector>

class CBusSim {
public:
    CBusSim(const SimConfig& config, LineSink log, LineSink report);

    // The line format the program set; wire times follow it.
    void SetLineFormat(const LineFormat& line);
    const LineFormat& Line() const { return m_line; }
    const SimConfig& Config() const { return m_config; }

    // The program opened or closed its side. Nothing is sent while it is closed, and what was
    // due is dropped, as a serial driver drops input while nobody has the port open.
    void PortOpened(Nanos now);
    void PortClosed();

    // Bytes that the program wrote, read at `arrival`.
    void Receive(Nanos arrival, const std::uint8_t* bytes, std::size_t count);

    // Queues one ping reply now.
    void SendPing(Nanos now);

    // The line from the program is busy with the bytes received so far until then.
    Nanos InputFreeAt() const { return m_inFree; }

    // When the next bytes are due (kNever when nothing is planned).
    Nanos NextDue() const;
    // When the next echo of a program's write is due, or kNever.
    Nanos NextEchoDue() const;

    // Appends every byte due at `now` to `out`; `now` is taken as the time they are written.
    void TakeDue(Nanos now, std::vector<std::uint8_t>& out);

    // Reports a download still under way.
    void Finish() { m_boot.Finish(); }

    const CBootLoader& BootLoader() const { return m_boot; }

    // With an expected file: at least one download, and every download complete and correct.
    bool DownloadsOk() const;

private:
    struct Outgoing {
        Nanos due;
        std::vector<std::uint8_t> bytes;
        int echoOf; // index of the write whose intact echo this is, else -1
    };

    void OnMessage(const std::uint8_t* message, int length, Nanos arrival, Nanos complete);
    void OnDeviceRequest(const std::uint8_t* message, int length, Nanos echoDue);
    Nanos Queue(Nanos earliest, std::vector<std::uint8_t> bytes, int echoOf = -1);
    void Generate(Nanos now);
    Nanos Wire(std::size_t bytes) const; // time on the line as the emulation sees it
    void Log(const std::string& line) const { m_log(line); }
    void LogBytes(const char* what, const std::uint8_t* bytes, std::size_t count) const;

    const SimConfig& m_config;
    LineSink m_log;
    LineFormat m_line;
    CRxAssembler m_rx;
    Nanos m_messageArrival = 0; // arrival of the current message's opcode
    Nanos m_inFree = 0;         // the line from the program is busy until then
    Nanos m_outFree = 0;        // the line to the program is busy until then
    int m_writes = 0;           // complete, valid messages from the program
    Nanos m_busyUntil = -1;
    std::deque<Outgoing> m_out; // in order of due time
    CBootLoader m_boot;
    CTraffic m_traffic;
    bool m_open = false;
    Nanos m_nextTraffic = kNever;
    Nanos m_nextBurst = kNever;
    Nanos m_nextReplay = kNever;
    Nanos m_nextPing = kNever;
    std::size_t m_replayLine = 0;
};
