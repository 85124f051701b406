#pragma once
// The monitor's serial port: opened for the window's notifications and read without waiting,
// and tried again once a second while another program holds it or its adapter is gone.

#include "platform/core/manual_reset_signal.h"
#include "serial/serial_mfc.h"

#include <QString>
#include <atomic>
#include <cstdint>

class CPortKeeper {
public:
    static constexpr std::uint32_t kReadSize = 1024;
    // The value the port's notifications carry.
    static constexpr platform::LParam kSerialUserValue = 12;

    // What the timer found.
    enum class Tick { Nothing, DeviceGone, RetryDue };

    // Opens COMn at `bitRate` for notifications to `window`. A port another program holds is
    // tried again later (see OnTimer); Failure() says why the open failed.
    bool Open(int comPort, int bitRate, platform::WindowMessageReceiver* window);
    // Closes the port; a port given up for lost is no longer tried again.
    void Close();
    bool IsOpen() const { return m_serial.IsOpen(); }
    // The rate the open port runs at; 0 when it is closed.
    int BitRate() const { return m_serial.IsOpen() ? m_bitRate.load() : 0; }
    // Why the last open failed ("in use by another program"); empty when none did.
    const QString& Failure() const { return m_failure; }

    // Called at every timer tick: a port whose device has gone, or a lost port whose second of
    // waiting is over.
    Tick OnTimer();
    // The port is to be tried again in a second.
    void RetryLater();

    // Reads what has arrived, without waiting; the bytes stay valid until the next read.
    std::uint32_t ReadArrived(const std::uint8_t*& bytes);
    // Writes with the given time-out; 1 without writing when the port is closed.
    std::int32_t Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                       std::uint32_t timeoutMs);
    // Posts the notification of new bytes once more, for bytes a full read has left.
    void NotifyAgain(platform::WindowMessageReceiver* window, std::uint32_t events);

    CSerialMFC& Serial() { return m_serial; }

private:
    QString m_failure;
    std::atomic<int> m_bitRate{0};
    bool m_lost = false;
    int m_ticksToRetry = 0;
    // The receive read has a completion record of its own: the shared one of the port belongs
    // to the writes, which run on the writer's thread at the same time.
    CompletionRecord m_readRecord;
    platform::ManualResetSignal m_readDone;
    std::uint8_t m_readBuffer[kReadSize] = {};
    // Declared last, so that the port and its event thread go first.
    CSerialMFC m_serial;
};
