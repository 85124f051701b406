#pragma once

#include "busproto/messages.h"
#include "busproto/rx_assembler.h"
#include "loader/discovery_sink.h"
#include "loader/link_observer.h"
#include "loader/link_port.h"
#include "loader/request_thread.h"
#include "platform/core/window_message.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// The loader's document and its link to the Trakbus: it owns the serial port,
// sends an IPL message and waits for its echo, sends the discovery requests,
// assembles received bytes into messages and hands device replies to the open
// discovery window.
//
// Threads: the port's event thread reads the received bytes, runs the
// assembler and recognises the echoes, waking the waiting worker directly, so
// that a download goes on however busy the window's thread is. The window's
// thread only hands device replies to the discovery window (HandleSerialEvent)
// and queues the discovery requests to the request thread, which writes them
// and reopens the port when a write fails. The transfer worker runs OpenPort,
// SendIplMessage and PreciseDelay. m_lock is held around every open and close
// of the port only: the serial library lets a read and a write go on at once,
// and a close aborts a write under way, so no lock waits for a write's drain.
class CKelvloadDoc {
public:
    CKelvloadDoc();
    // Runs the queued requests, then closes the port.
    ~CKelvloadDoc();
    CKelvloadDoc(const CKelvloadDoc&) = delete;
    CKelvloadDoc& operator=(const CKelvloadDoc&) = delete;

    // (Re)opens m_PortName, or "\\.\COM<m_ActiveComPort>" when it is empty, at the rate of
    // m_BitRate with its serial notifications going to `notifyWindow`. Ask IsPortOpen afterwards.
    void OpenPort(platform::WindowMessageReceiver* notifyWindow);
    // OpenPort unless a download is under way (or has just begun).
    void OpenIdlePort(platform::WindowMessageReceiver* notifyWindow);
    bool IsPortOpen() const;
    // Closes the port under the lock, so that no open or close overlaps it.
    void ClosePort();
    // Closes the port unless a download is under way (or has just begun).
    void CloseIdlePort();

    // Writes `length` bytes with a 2000 ms time-out. Returns the serial
    // library's result (0 = success) and the count written.
    int SendBytes(const std::uint8_t* data, int length, std::uint32_t& written);

    // Writes one IplMessage of `kind` with payload data[0..7] and waits for its
    // echo, writing it up to six times. Returns 1 when the echo came, else 0.
    // Worker thread only.
    int SendIplMessage(std::uint8_t kind, const std::uint8_t* data);

    // Writes the DeviceMessage built from m_reqGroup, m_reqCode and m_reqData
    // without waiting for anything. Returns 1 when all 20 bytes were written.
    // A failed write reopens the port and writes once more: the adapter may
    // have been pulled and plugged in again since the port was opened.
    // Refused (0) while a download is running, so that no request lands among
    // its messages.
    int SendRequest();
    int SendDiscover(int productFilter);
    int SendIdentify(int product, std::uint32_t serial);
    // Runs `request` on the request thread, after those queued before it, so
    // that the window's thread waits neither for its write nor for a reopening.
    void QueueRequest(std::function<void(CKelvloadDoc&)> request);
    // Runs the requests still queued and takes no more, so that none opens the
    // port again once its window has gone.
    void StopRequests();

    // One serial notification on the window's thread: hands the device replies
    // that have come since the last one to the discovery window.
    void HandleSerialEvent(platform::WParam wParam);
    // One batch of port events, on the event thread: a receive event (exactly
    // 0x0001) reads what is waiting and assembles it, a line error (exactly
    // 0x0080) discards it and restarts assembly, anything else does nothing.
    // Returns whether device replies wait for the window.
    bool ReceiveEvents(std::uint32_t events);
    // One received byte through the assembler, then the echo check; a device
    // message that is no echo waits for the window.
    void ReceiveByte(std::uint8_t b);

    // Returns after at least `milliseconds`.
    void PreciseDelay(int milliseconds);

    // Persisted settings (loaded and stored by the program's settings code).
    std::int32_t m_ActiveComPort = 1;
    std::int32_t m_BitRate = 2;
    std::string m_SrcPath = "c:\\";
    // A port named for this run only (a COM name or a device path); not stored.
    std::string m_PortName;

    CLinkPort m_serial{[this](std::uint32_t events) { return ReceiveEvents(events); }};
    // The open discovery window, or null; set and cleared on the UI thread.
    CDiscoverySink* m_pDiscoverDlg = nullptr;
    // Told of the IPL messages' writes and echoes, or null; set before the port opens.
    std::atomic<CLinkObserver*> m_pObserver{nullptr};

    std::uint8_t m_reqGroup = 0;
    std::uint8_t m_reqCode = 0;
    std::uint8_t m_reqData[12] = {};

    // 1 from just before a message is written until its echo has come back.
    // Cleared only through EchoArrived, which also wakes the waiting worker.
    std::atomic<int> m_bAwaitEcho{0};
    // Writes left for the IplMessage being sent (worker only).
    int m_nSendTries = 0;
    // Set by the transfer engine for the length of a run.
    std::atomic<int> m_bTransferActive{0};

    // The receive assembler of the open port, used by its event thread (which
    // OpenPort ends before it resets the assembler and starts the next one).
    CRxAssembler m_rx;

    // The message last built for writing, compared with received messages
    // while an echo is awaited. Guarded by m_txLock because a late echo can
    // be compared on the event thread while the worker builds the next one.
    std::uint8_t m_txBuf[256] = {};
    std::mutex m_txLock;

    std::mutex m_lock;

    // The worker sleeps on m_echoCame until the event thread has seen the
    // echo, so that it goes on as soon as the echo is there.
    std::mutex m_echoLock;
    std::condition_variable m_echoCame;

private:
    // Where the last OpenPort sent the notifications, for a reopening.
    std::atomic<platform::WindowMessageReceiver*> m_pNotifyWindow{nullptr};

    void OpenPortLocked(platform::WindowMessageReceiver* notifyWindow);
    // Set while OpenPort sets the port up: what is received meanwhile is stale.
    std::atomic<int> m_bOpening{0};
    int WriteRequest(const std::uint8_t* message);
    void BeginAwaitingEcho(const std::uint8_t* message, int length);
    void EchoArrived();
    // Waits until the echo has come or `budgetMs` has passed; true when it came.
    bool WaitForEcho(int budgetMs);
    void DispatchMessage(std::uint8_t* message);

    // Device messages from the event thread, for the window's thread; a window
    // that does not keep up loses the oldest beyond a bound.
    std::mutex m_repliesLock;
    std::deque<std::array<std::uint8_t, kDeviceMessageLength>> m_replies;

    CRequestThread m_requests;
};

// The loader's bit rates; m_BitRate indexes this table.
inline constexpr int kBitRateCount = 8;
inline constexpr std::uint32_t kBitRates[kBitRateCount] = {9600,  14400, 16457, 19200,
                                                           38400, 56000, 57600, 115200};
