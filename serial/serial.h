#pragma once
// CSerial: one serial port, opened exclusively, with line format, flow control, an event mask,
// read modes and reads, writes and event waits that can each be bounded by a time-out.
//
// Every operation except TakeEvents and IsOpen first clears the last error and leaves its
// outcome there; operations that return an error code return that outcome.
//
// Error codes. The codes that the library names keep their values (see SerialError). Operating
// system failures (errno) map as follows, so that no errno can be mistaken for a named code:
//
//   errno                                 code
//   0                                     0 (SerialOk)
//   ENOENT, ENXIO, ENODEV                 2 (SerialErrFileNotFound: no such device)
//   EACCES, EBUSY, EWOULDBLOCK (=EAGAIN)  5 (SerialErrAccessDenied: in use or not permitted)
//   any other errno e                     0x20000000 | e  (e.g. EPERM 1 -> 0x20000001,
//                                                          EIO 5 -> 0x20000005,
//                                                          EINVAL 22 -> 0x20000016)
//
// Bit 29 marks application-defined codes in this error space, so the last row never meets a
// system code. A device that goes away (hang-up, end of file on a readable port) is reported as
// EIO (0x20000005) unless the system said ENODEV or ENXIO (2).

#include "serial/completion_record.h"
#include "serial/port_failure.h"
#include "serial/shared_slot.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace serial {
class SerialDevice;
struct LineSettings;
} // namespace serial

enum Parity : std::int32_t {
    ParityNone = 0,
    ParityOdd = 1,
    ParityEven = 2,
    ParityMark = 3,
    ParitySpace = 4,
};

enum StopBits : std::uint8_t {
    StopBitsOne = 0,
    StopBitsOneHalf = 1, // only with 5 data bits
    StopBitsTwo = 2,     // not with 5 data bits
};

enum FlowControl : std::int32_t {
    FlowNone = 0,
    FlowHardware = 1,
    FlowSoftware = 2,
};

enum ReadMode : std::int32_t {
    ReadNonBlocking = 0,
    ReadBlocking = 1,
};

enum PortState : std::int32_t {
    PortError = -1,
    PortAvailable = 0,
    PortNotPresent = 1,
    PortInUse = 2,
};

// Event bits. EvRxChar, EvRxFlag (the event character among the received bytes), EvTxEmpty
// (the last write's bytes have left the output queue), EvBreak, EvError and the modem-line
// events (EvCts, EvDsr, EvRlsd, EvRing; only on devices that count them) are reported.
inline constexpr std::uint32_t EvRxChar = 0x0001;
inline constexpr std::uint32_t EvRxFlag = 0x0002;
inline constexpr std::uint32_t EvTxEmpty = 0x0004;
inline constexpr std::uint32_t EvCts = 0x0008;
inline constexpr std::uint32_t EvDsr = 0x0010;
inline constexpr std::uint32_t EvRlsd = 0x0020;
inline constexpr std::uint32_t EvBreak = 0x0040;
inline constexpr std::uint32_t EvError = 0x0080;
inline constexpr std::uint32_t EvRing = 0x0100;

// Line-error flags, as fetched with the events.
inline constexpr std::uint32_t LineErrRxOverflow = 0x0001; // input queue overflow
inline constexpr std::uint32_t LineErrOverrun = 0x0002;    // character overrun
inline constexpr std::uint32_t LineErrParity = 0x0004;
inline constexpr std::uint32_t LineErrFrame = 0x0008;
inline constexpr std::uint32_t LineErrBreak = 0x0010;
inline constexpr std::uint32_t LineErrTxFull = 0x0100; // output queue full

enum SerialError : std::int32_t {
    SerialOk = 0,
    SerialErrInvalidFunction = 1,
    SerialErrFileNotFound = 2,
    SerialErrAccessDenied = 5,
    SerialErrNotOpen = 6,
    SerialErrAlreadyOpen = 1247,
    SerialErrTimeout = 1460,
    SerialErrInvalidArg = -2147024809, // 0x80070057
};

// Marks errno values mapped into the error space (last row of the table above).
inline constexpr std::int32_t SerialErrnoBase = 0x20000000;

// Maps an errno value by the table above.
std::int32_t SerialErrorFromErrno(int error);

class CSerial;

// Test seam: makes an open port report line errors (flags as above) as if its driver had counted
// them, with the EvError or EvBreak event that they raise. Pseudo-terminals count none.
void SimulateLineErrors(CSerial& port, std::uint32_t flags);

// No time limit.
inline constexpr std::uint32_t SerialInfinite = 0xFFFFFFFF;

// The event mask applied at open.
inline constexpr std::uint32_t SerialDefaultEventMask = EvRxChar | EvBreak | EvError;

class CSerial {
public:
    CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;
    virtual ~CSerial();

    // Opens the device (a COM name, see port_names.h, or a path) exclusively. Asynchronous
    // mode (overlapped) allows completion records and bounded waits.
    virtual std::int32_t Open(const char* device, std::uint32_t inQueueSize = 0,
                              std::uint32_t outQueueSize = 0, bool overlapped = false);
    virtual std::int32_t Close();

    virtual std::int32_t SetLineFormat(std::uint32_t bitRate, std::uint8_t dataBits, Parity parity,
                                       StopBits stopBits);
    virtual std::int32_t SetEventCharacter(std::uint8_t character, bool adjustMask = true);
    virtual std::int32_t SetEventMask(std::uint32_t mask);
    virtual std::int32_t WaitForEvent(CompletionRecord* record = nullptr,
                                      std::uint32_t timeoutMs = SerialInfinite);
    virtual std::int32_t SetFlowControl(FlowControl mode);
    virtual std::int32_t SetReadMode(ReadMode mode);

    virtual std::int32_t GetBitRate();
    virtual std::int32_t GetDataBits();
    virtual std::int32_t GetParity();
    virtual std::int32_t GetStopBits();
    virtual std::int32_t GetFlowControl();
    virtual std::uint32_t GetEventMask();
    virtual std::uint8_t GetEventCharacter();

    virtual std::int32_t WriteText(const char* text, std::uint32_t* written = nullptr,
                                   CompletionRecord* record = nullptr,
                                   std::uint32_t timeoutMs = SerialInfinite);
    virtual std::int32_t Write(const void* data, std::uint32_t size,
                               std::uint32_t* written = nullptr, CompletionRecord* record = nullptr,
                               std::uint32_t timeoutMs = SerialInfinite);
    virtual std::int32_t Read(void* buffer, std::uint32_t size, std::uint32_t* read = nullptr,
                              CompletionRecord* record = nullptr,
                              std::uint32_t timeoutMs = SerialInfinite);

    // Whether the device could be opened now, found out without opening it (port_probe.h);
    // needs no object. reason, when given, receives the
    // errno behind PortInUse or PortError (EACCES: no permission; EBUSY or EWOULDBLOCK: held by
    // another program), 0 otherwise.
    static PortState ProbePort(const char* device, int* reason = nullptr);
    // The same, with what stood in the way of PortInUse or PortError.
    static PortState ProbePort(const char* device, serial::PortRefusal& refusal);

    // The reported events under the mask; clears them.
    std::uint32_t TakeEvents();
    bool IsOpen() const;
    std::int32_t GetLastError() const { return lastError.load(); }
    // The errno behind the last failed Open (0 after a successful one), which tells apart the
    // causes that share a code, such as no permission and in use (both 5).
    int GetLastOpenReason() const { return lastOpenReason.load(); }
    // What stood in the way of the last failed Open (see port_failure.h: RefusalText).
    serial::PortRefusal GetLastRefusal() const;

protected:
    // The open device, for the event classes.
    std::shared_ptr<serial::SerialDevice> Device() const { return handle.load(); }

    // Stores an outcome as the last error and returns it.
    std::int32_t Store(std::int32_t code) {
        lastError.store(code);
        return code;
    }

    // Fields. The atomics are shared with an event thread and with a thread that closes the port
    // while another reads; the device object stays alive while an operation still uses it.
    std::atomic<std::int32_t> lastError{0};
    std::atomic<int> lastOpenReason{0};
    mutable std::mutex refusalMutex;
    serial::PortRefusal lastRefusal;
    serial::SharedSlot<serial::SerialDevice> handle;
    std::atomic<std::uint32_t> pendingEvents{0};
    std::atomic<std::uint32_t> eventMask{0};
    serial::SharedSlot<platform::ManualResetSignal> ioEvent;

private:
    friend void SimulateLineErrors(CSerial& port, std::uint32_t flags);

    // The shared pattern of Write, Read and WaitForEvent; start begins the operation on a record.
    template <typename StartOperation>
    std::int32_t RunBounded(CompletionRecord* record, std::uint32_t timeoutMs, std::uint32_t* count,
                            StartOperation start);
    // Reads the line settings, lets edit change them (or refuse with an error code) and writes
    // them back.
    template <typename Edit> std::int32_t ChangeSettings(Edit edit);
    // One field of the line settings, or -1 with the error stored.
    template <typename Field> std::int32_t QuerySettings(Field field);
};
