#include "loader/kelvload_doc.h"

#include "loader/precise_delay.h"
#include "serial/port_names.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr std::uint32_t kQueueSize = 512;
constexpr platform::LParam kNotifyUserValue = 12;
constexpr std::uint32_t kWriteTimeoutMs = 2000;
constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;
constexpr int kReadChunk = 1024;
constexpr int kIplWrites = 6;
constexpr int kEchoBudgetPerWriteMs = 50;
constexpr std::uint32_t kEventsReceive = 0x0001;
constexpr std::uint32_t kEventsLineError = 0x0080;
constexpr std::uint32_t kEventMask = kEventsReceive | kEventsLineError;
// Device messages kept for a window's thread that does not take them.
constexpr std::size_t kMostRepliesWaiting = 256;

} // namespace

CKelvloadDoc::CKelvloadDoc() = default;

CKelvloadDoc::~CKelvloadDoc() {
    StopRequests();
    ClosePort();
}

void CKelvloadDoc::OpenPort(platform::WindowMessageReceiver* notifyWindow) {
    std::lock_guard guard(m_lock);
    OpenPortLocked(notifyWindow);
}

void CKelvloadDoc::OpenIdlePort(platform::WindowMessageReceiver* notifyWindow) {
    // Under the lock: a download that begins now opens its port after this.
    std::lock_guard guard(m_lock);
    if (m_bTransferActive == 0) {
        OpenPortLocked(notifyWindow);
    }
}

void CKelvloadDoc::OpenPortLocked(platform::WindowMessageReceiver* notifyWindow) {
    m_pNotifyWindow = notifyWindow;
    if (m_serial.IsOpen()) {
        m_serial.Close();
    }
    const std::string device =
        m_PortName.empty() ? serial::ComDeviceName(m_ActiveComPort) : m_PortName;
    // The old port's event thread has ended with the close, and the new one
    // starts with the open: the assembler is nobody's meanwhile.
    m_rx.Reset();
    m_bAwaitEcho = 0;
    // An index outside the table (a damaged setting) leaves the port closed.
    if (m_BitRate < 0 || m_BitRate >= kBitRateCount) {
        return;
    }
    // Until the port is set up, what it received while nobody had it open (a
    // pseudo-terminal keeps it) is read and thrown away, as an adapter would
    // not have received it at all.
    m_bOpening = 1;
    if (m_serial.OpenForWindow(device.c_str(), notifyWindow, 0, kNotifyUserValue, kQueueSize,
                               kQueueSize) != 0) {
        m_bOpening = 0;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_serial.SetLineFormat(kBitRates[m_BitRate], 8, ParityNone, StopBitsOne) != 0) {
        m_serial.Close();
        m_bOpening = 0;
        return;
    }
    m_serial.SetEventMask(kEventMask);
    m_serial.SetFlowControl(FlowNone);
    m_serial.SetReadMode(ReadNonBlocking);
    std::uint8_t stale[kReadChunk];
    std::uint32_t count = 0;
    do {
        m_serial.Read(stale, kReadChunk, &count, nullptr, kNoTimeLimit);
    } while (count == kReadChunk);
    m_bOpening = 0;
}

bool CKelvloadDoc::IsPortOpen() const {
    return m_serial.IsOpen();
}

void CKelvloadDoc::ClosePort() {
    std::lock_guard guard(m_lock);
    if (m_serial.IsOpen()) {
        m_serial.Close();
    }
}

void CKelvloadDoc::CloseIdlePort() {
    // Under the lock: a download that begins now opens its port after this.
    std::lock_guard guard(m_lock);
    if (m_bTransferActive == 0 && m_serial.IsOpen()) {
        m_serial.Close();
    }
}

int CKelvloadDoc::SendBytes(const std::uint8_t* data, int length, std::uint32_t& written) {
    written = 0;
    return m_serial.Write(data, static_cast<std::uint32_t>(length), &written, nullptr,
                          kWriteTimeoutMs);
}

void CKelvloadDoc::BeginAwaitingEcho(const std::uint8_t* message, int length) {
    std::lock_guard guard(m_txLock);
    std::memcpy(m_txBuf, message, static_cast<size_t>(length));
    m_bAwaitEcho = 1;
}

int CKelvloadDoc::SendIplMessage(std::uint8_t kind, const std::uint8_t* data) {
    std::uint8_t message[kIplMessageLength];
    BuildIplMessage(kind, data, message);
    BeginAwaitingEcho(message, kIplMessageLength);
    // The flag is not reset between writes: the echo of any copy confirms.
    m_nSendTries = kIplWrites;
    CLinkObserver* observer = m_pObserver;
    for (int attempt = 1;; ++attempt) {
        std::uint32_t written = 0;
        const int result = SendBytes(message, kIplMessageLength, written);
        if (observer != nullptr) {
            observer->OnIplWrite(message, kIplMessageLength, attempt, result);
        }
        if (result != 0 || written < kIplMessageLength) {
            if (observer != nullptr) {
                observer->OnIplDone(message, kIplMessageLength, false);
            }
            return 0;
        }
        if (WaitForEcho(kEchoBudgetPerWriteMs) || --m_nSendTries == 0) {
            break;
        }
    }
    const bool echoed = m_bAwaitEcho == 0;
    if (observer != nullptr) {
        observer->OnIplDone(message, kIplMessageLength, echoed);
    }
    return echoed ? 1 : 0;
}

bool CKelvloadDoc::WaitForEcho(int budgetMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    std::unique_lock guard(m_echoLock);
    return m_echoCame.wait_until(guard, deadline, [this] { return m_bAwaitEcho == 0; });
}

void CKelvloadDoc::EchoArrived() {
    {
        // Cleared under the lock, so that the worker cannot miss the wake-up
        // between its look at the flag and its sleep.
        std::lock_guard guard(m_echoLock);
        m_bAwaitEcho = 0;
    }
    m_echoCame.notify_all();
}

int CKelvloadDoc::SendRequest() {
    if (m_bTransferActive != 0) {
        return 0;
    }
    std::uint8_t message[kDeviceMessageLength];
    BuildDeviceMessage(m_reqGroup, m_reqCode, m_reqData, message);
    if (WriteRequest(message) == 1) {
        return 1;
    }
    if (m_pNotifyWindow == nullptr) {
        return 0;
    }
    OpenIdlePort(m_pNotifyWindow);
    return IsPortOpen() && m_bTransferActive == 0 ? WriteRequest(message) : 0;
}

int CKelvloadDoc::WriteRequest(const std::uint8_t* message) {
    BeginAwaitingEcho(message, kDeviceMessageLength);
    std::uint32_t written = 0;
    const int result = SendBytes(message, kDeviceMessageLength, written);
    return result == 0 && written == kDeviceMessageLength ? 1 : 0;
}

void CKelvloadDoc::QueueRequest(std::function<void(CKelvloadDoc&)> request) {
    m_requests.Queue([this, request = std::move(request)] { request(*this); });
}

void CKelvloadDoc::StopRequests() {
    m_requests.Stop();
}

int CKelvloadDoc::SendDiscover(int productFilter) {
    m_reqGroup = kDeviceGroup;
    m_reqCode = kRequestCode;
    std::memset(m_reqData, 0, sizeof m_reqData);
    m_reqData[0] = static_cast<std::uint8_t>(productFilter);
    m_reqData[5] = 1;
    return SendRequest();
}

int CKelvloadDoc::SendIdentify(int product, std::uint32_t serial) {
    m_reqGroup = kDeviceGroup;
    m_reqCode = kRequestCode;
    std::memset(m_reqData, 0, sizeof m_reqData);
    m_reqData[0] = static_cast<std::uint8_t>(product);
    m_reqData[2] = 1;
    m_reqData[5] = static_cast<std::uint8_t>(serial);
    m_reqData[6] = static_cast<std::uint8_t>(serial >> 8);
    m_reqData[7] = static_cast<std::uint8_t>(serial >> 16);
    return SendRequest();
}

bool CKelvloadDoc::ReceiveEvents(std::uint32_t events) {
    events &= 0xFFFF;
    // Both bits at once, or any other event, is left for the next notification.
    if (events != kEventsReceive && events != kEventsLineError) {
        return false;
    }
    std::uint8_t buffer[kReadChunk];
    std::uint32_t count = 0;
    m_serial.Read(buffer, kReadChunk, &count, nullptr, kNoTimeLimit);
    if (m_bOpening != 0) {
        return false;
    }
    if (events == kEventsLineError) {
        m_rx.ResetAfterLineError();
        return false;
    }
    for (std::uint32_t i = 0; i < count && i < kReadChunk; ++i) {
        ReceiveByte(buffer[i]);
    }
    std::lock_guard guard(m_repliesLock);
    return !m_replies.empty();
}

void CKelvloadDoc::ReceiveByte(std::uint8_t b) {
    if (!m_rx.Step(b)) {
        return;
    }
    if (m_bAwaitEcho == 1) {
        // Any message that arrives while an echo is awaited is used for that
        // check only, whether it matched or not.
        std::lock_guard guard(m_txLock);
        const int expected = m_rx.m_nRxExpected;
        const int length = std::min(expected, CRxAssembler::kMaxBytes);
        const bool matched =
            expected <= 0 || std::memcmp(m_rx.m_rxBuf, m_txBuf, static_cast<size_t>(length)) == 0;
        if (CLinkObserver* observer = m_pObserver; observer != nullptr) {
            observer->OnEchoCheck(m_rx.m_rxBuf, std::max(length, 0), matched);
        }
        if (matched) {
            EchoArrived();
        }
        return;
    }
    const std::uint8_t* message = m_rx.m_rxBuf;
    if (m_rx.m_nRxCount < kDeviceMessageLength || message[0] != kLongOpcode ||
        message[1] != kDeviceMessageLength) {
        return;
    }
    std::lock_guard guard(m_repliesLock);
    if (m_replies.size() == kMostRepliesWaiting) {
        m_replies.pop_front();
    }
    auto& reply = m_replies.emplace_back();
    std::memcpy(reply.data(), message, kDeviceMessageLength);
}

void CKelvloadDoc::HandleSerialEvent(platform::WParam) {
    std::deque<std::array<std::uint8_t, kDeviceMessageLength>> replies;
    {
        std::lock_guard guard(m_repliesLock);
        replies.swap(m_replies);
    }
    for (auto& reply : replies) {
        DispatchMessage(reply.data());
    }
}

void CKelvloadDoc::DispatchMessage(std::uint8_t* message) {
    if (m_pDiscoverDlg == nullptr) {
        return;
    }
    RestoreHighBits(message);
    if (message[2] == kPingGroup) {
        m_pDiscoverDlg->ShowRssi(message);
    } else if (message[2] == kDeviceGroup) {
        m_pDiscoverDlg->AddDiscoveryReply(message);
    }
}

void CKelvloadDoc::PreciseDelay(int milliseconds) {
    PreciseDelayMs(milliseconds);
}
