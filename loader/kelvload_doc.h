#pragma once

#include "busproto/rx_assembler.h"
#include "loader/discovery_sink.h"
#include "loader/link_observer.h"
#include "platform/core/window_message.h"
#include "serial/serial_mfc.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// The loader's document and its link to the Trakbus: it owns the serial port,
// writes under one lock, sends an IPL message and waits for its echo, sends
// the discovery requests, assembles received bytes into messages and hands
// device replies to the open discovery window.
//
// Threads: the user-interface thread runs HandleSerialEvent, ReceiveByte and
// the requests; the transfer worker runs OpenPort, SendIplMessage and
// PreciseDelay. m_lock is held around every single Read, Write, open and close
// of the port, and nothing else is held with it.
class CKelvloadDoc {
public:
    CKelvloadDoc();
    ~CKelvloadDoc();
    CKelvloadDoc(const CKelvloadDoc&) = delete;
    CKelvloadDoc& operator=(const CKelvloadDoc&) = delete;

    // (Re)opens m_PortName, or "\\.\COM<m_ActiveComPort>" when it is empty, at the rate of
    // m_BitRate with its serial notifications going to `notifyWindow`. Ask IsPortOpen afterwards.
    void OpenPort(platform::WindowMessageReceiver* notifyWindow);
    bool IsPortOpen() const;
    // Closes the port under the lock, so no read or write is cut off midway.
    void ClosePort();

    // Writes `length` bytes under the lock, with a 2000 ms time-out. Returns the
    // serial library's result (0 = success) and the count written.
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

    // One serial notification: the event bits are the low 16 bits of wParam.
    void HandleSerialEvent(platform::WParam wParam);
    // One received byte through the assembler, then the echo check and the
    // routing of device replies.
    void ReceiveByte(std::uint8_t b);

    // Returns after at least `milliseconds`.
    void PreciseDelay(int milliseconds);

    // Persisted settings (loaded and stored by the program's settings code).
    std::int32_t m_ActiveComPort = 1;
    std::int32_t m_BitRate = 2;
    std::string m_SrcPath = "c:\\";
    // A port named for this run only (a COM name or a device path); not stored.
    std::string m_PortName;

    CSerialMFC m_serial;
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

    // The receive assembler of the open port (UI thread only). OpenPort, which
    // the worker also calls, only asks for its reset through m_bRxResetPending.
    CRxAssembler m_rx;
    std::atomic<int> m_bRxResetPending{0};

    // The message last built for writing, compared with received messages
    // while an echo is awaited. Guarded by m_txLock because a late echo can
    // be compared on the UI thread while the worker builds the next message.
    std::uint8_t m_txBuf[256] = {};
    std::mutex m_txLock;

    std::mutex m_lock;

    // The worker sleeps on m_echoCame until the user-interface thread has seen
    // the echo, so that it goes on as soon as the echo is there.
    std::mutex m_echoLock;
    std::condition_variable m_echoCame;

private:
    // Where the last OpenPort sent the notifications, for a reopening.
    std::atomic<platform::WindowMessageReceiver*> m_pNotifyWindow{nullptr};

    int WriteRequest(const std::uint8_t* message);
    void BeginAwaitingEcho(const std::uint8_t* message, int length);
    void EchoArrived();
    // Waits until the echo has come or `budgetMs` has passed; true when it came.
    bool WaitForEcho(int budgetMs);
    void ApplyPendingRxReset();
    void DispatchMessage();
};

// The loader's bit rates; m_BitRate indexes this table.
inline constexpr int kBitRateCount = 8;
inline constexpr std::uint32_t kBitRates[kBitRateCount] = {9600,  14400, 16457, 19200,
                                                           38400, 56000, 57600, 115200};
