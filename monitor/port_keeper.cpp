#include "monitor/port_keeper.h"

#include "monitor/kelvmon_ids.h"
#include "serial/port_failure.h"
#include "serial/port_names.h"

#include <string>

namespace {
constexpr std::uint32_t kQueueSize = 512;
constexpr int kTicksPerRetry = 1000 / static_cast<int>(kelvmon::TimerPeriodMs); // once a second
} // namespace

bool CPortKeeper::Open(int comPort, int bitRate, platform::WindowMessageReceiver* window) {
    Close();
    const std::string device = serial::ComDeviceName(comPort);
    m_failure.clear();
    m_bitRate.store(bitRate);
    if (m_serial.OpenForWindow(device.c_str(), window, 0, kSerialUserValue, kQueueSize,
                               kQueueSize) != SerialOk) {
        const int reason = m_serial.GetLastOpenReason();
        if (const char* text = serial::PortFailureText(reason))
            m_failure = QString::fromLatin1(text);
        // Another program may hold the port only for a moment (a loader probing it), so it is
        // tried again once a second, as a lost one is.
        if (serial::PortIsBusy(reason))
            RetryLater();
        return false;
    }
    if (m_serial.SetLineFormat(static_cast<std::uint32_t>(bitRate), 8, ParityNone, StopBitsOne) !=
        SerialOk) {
        m_serial.Close();
        return false;
    }
    m_serial.SetEventMask(EvRxChar | EvError);
    m_serial.SetFlowControl(FlowNone);
    m_serial.SetReadMode(ReadNonBlocking);
    return true;
}

void CPortKeeper::Close() {
    m_lost = false;
    m_serial.Close();
}

CPortKeeper::Tick CPortKeeper::OnTimer() {
    // A port whose device has gone (a pulled adapter) can no longer tell its settings.
    if (m_serial.IsOpen() && m_serial.GetBitRate() < 0)
        return Tick::DeviceGone;
    if (m_lost && --m_ticksToRetry <= 0)
        return Tick::RetryDue;
    return Tick::Nothing;
}

void CPortKeeper::RetryLater() {
    m_lost = true;
    m_ticksToRetry = kTicksPerRetry;
}

std::uint32_t CPortKeeper::ReadArrived(const std::uint8_t*& bytes) {
    bytes = m_readBuffer;
    std::uint32_t count = 0;
    // The port reads in non-blocking mode: the read finishes at once with what has arrived.
    m_readRecord.signal = &m_readDone;
    if (m_serial.Read(m_readBuffer, kReadSize, &count, &m_readRecord, SerialInfinite) != SerialOk ||
        m_readRecord.status.load() != SerialOk)
        count = 0;
    return count;
}

std::int32_t CPortKeeper::Write(const std::uint8_t* data, std::uint32_t length,
                                std::uint32_t& written, std::uint32_t timeoutMs) {
    written = 0;
    if (!m_serial.IsOpen())
        return 1;
    return m_serial.Write(data, length, &written, nullptr, timeoutMs);
}

void CPortKeeper::NotifyAgain(platform::WindowMessageReceiver* window, std::uint32_t events) {
    if (m_serial.IsOpen())
        platform::PostMessage(window->Handle(), CSerialWnd::defaultComMessage, events,
                              kSerialUserValue);
}
