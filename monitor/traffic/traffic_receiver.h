#pragma once
// What the monitor does with received bytes: Trakbus framing with numbered, optionally
// time-stamped message lines, or a raw byte stream of 20 bytes a line whose unfinished line is
// shown after a pause in the traffic. The receiver owns the state; the list it writes to and the
// capture file are behind ITrafficOutput, so that the logic runs without a window.

#include "busproto/rx_assembler.h"
#include "monitor/traffic/traffic_line.h"

#include <QString>
#include <cstdint>
#include <functional>

class ITrafficOutput {
public:
    virtual ~ITrafficOutput() = default;
    virtual std::int64_t LineCount() const = 0;
    virtual void AddLine(const TrafficLine& line) = 0;
    // Replaces the last line, or adds the line when the list is empty.
    virtual void ReplaceLastLine(const TrafficLine& line) = 0;
    virtual void ScrollToEnd() = 0;
    // A finished line for the capture file (written only while capture is on).
    virtual void CaptureLine(const TrafficLine& line) = 0;
};

enum DisplayMode { DisplayTrakbus = 0, DisplayRaw = 1 };

class CTrafficReceiver {
public:
    explicit CTrafficReceiver(ITrafficOutput& output);

    // Each received byte in order, to ReceiveByte or ReceiveRawByte by the mode of that moment.
    void Receive(const std::uint8_t* data, std::uint32_t count);
    void ReceiveByte(std::uint8_t b);
    void ReceiveRawByte(std::uint8_t b);

    void ResetFramer() { m_rx.Reset(); } // the port was (re)opened
    void OnLineError() { m_rx.ResetAfterLineError(); }

    // The 250 ms tick: clears the pause when the port is closed and shows an unfinished raw line
    // once the traffic has paused for a tick or two.
    void OnTimer(bool portOpen);

    // Start state of the view's initial update: not paused, nothing counted, no raw line.
    void Restart();
    // Pause toggle; returns the new state. Pausing restarts the numbering.
    bool TogglePause();
    void SelectRawData();
    void SetUseTimeStamp(bool on) { m_UseTimeStamp = on ? 1 : 0; }
    // Display modes other than 0 and 1 count as 0.
    void SetDisplayMode(int mode) { m_DisplayModeGrp = mode == DisplayRaw ? 1 : 0; }

    int DisplayModeGrp() const { return m_DisplayModeGrp; }
    bool Paused() const { return m_bPaused != 0; }
    std::int32_t MessageCount() const { return m_nMessageCount; }
    int RawCount() const { return m_nRawCount; }
    const CRxAssembler& Framer() const { return m_rx; }

    // Source of the time-stamp prefix; local time unless a test sets another.
    std::function<StampTime()> m_clock = LocalStampNow;

private:
    void ShowRawLine();

    ITrafficOutput& m_output;
    CRxAssembler m_rx;
    int m_DisplayModeGrp = DisplayTrakbus;
    int m_UseTimeStamp = 0;
    int m_bPaused = 0;
    std::int32_t m_nMessageCount = 0;
    TrafficLine m_strRawLine = TrafficLine::Raw(nullptr, 0); // raw line under construction
    int m_nRawCount = 0;                                     // bytes in m_strRawLine
    int m_nRawShown = 0;     // m_nRawCount when the line was last put in the list
    int m_nRawCountdown = 0; // ticks left before an unfinished line may be shown
};

// The port status label: "COM Port %d Open", "COM Port Paused" or "COM Port Closed".
QString PortStatusText(bool portOpen, bool paused, int port);
