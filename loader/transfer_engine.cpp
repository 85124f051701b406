#include "loader/transfer_engine.h"

#include "busproto/messages.h"
#include "loader/precise_delay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kBlockTimingOptions = 2;
constexpr int kDefaultEraseBlock = 1024;
constexpr int kMaxRecordPause = 250;
constexpr int kIplPayload = 8;

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint8_t Low8(std::int64_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

CTransferEngine::CTransferEngine(CKelvloadDoc* pDoc, platform::WindowMessageReceiver* notifyWindow)
    : m_pDoc(pDoc), m_pNotifyWindow(notifyWindow),
      m_pImage(std::make_unique<std::uint8_t[]>(kfw::kImageBufferSize)) {}

CTransferEngine::~CTransferEngine() {
    StopAndWait();
}

int CTransferEngine::LoadFirmwareFile(const std::string& path, std::string& info) {
    if (IsWorkerRunning()) {
        return -1;
    }
    const kfw::FirmwareSink sink{m_header, info, m_pImage.get(), m_nImageLength};
    const int result = kfw::LoadFirmwareFile(path, sink);
    m_bFileValid = result == 0 ? 1 : 0;
    return result;
}

int CTransferEngine::StartStop(const std::string& path, std::string& info) {
    if (m_bBusy == 1) {
        m_bBusy = 0;
        return 0;
    }
    // A stopped run still sends its end message; a second worker must not
    // write over it.
    if (IsWorkerRunning()) {
        return 0;
    }
    if (LoadFirmwareFile(path, info) != 0) {
        UpdateState();
        return 0;
    }
    if (m_pWorker) {
        m_pWorker->wait();
    }
    m_pWorker.reset(QThread::create(TransferThreadProc, this));
    // The flags are set before the worker starts, so that a run that ends at
    // once cannot have its outcome overwritten here.
    m_bFailed = 0;
    m_bBusy = 1;
    // Marked on this thread, which also sends the discovery requests, so no
    // request can slip in between the start and the worker's first message.
    m_pDoc->m_bTransferActive = 1;
    const int rateIndex = m_pDoc->m_BitRate;
    const std::uint32_t rate =
        rateIndex >= 0 && rateIndex < kBitRateCount ? kBitRates[rateIndex] : 0;
    m_timeLeft.Start(PlanDownload(m_header, m_pImage.get(), m_nImageLength, rate),
                     MonotonicNowNs());
    UpdateState();
    m_pWorker->start();
    return 1;
}

bool CTransferEngine::IsWorkerRunning() const {
    return m_pWorker && m_pWorker->isRunning();
}

void CTransferEngine::StopAndWait() {
    m_bBusy = 0;
    if (m_pWorker) {
        m_pWorker->wait();
    }
}

void CTransferEngine::UpdateState() {
    {
        // Computing and storing under one lock keeps a stale computation on
        // one thread from overwriting the final state set by the other.
        std::lock_guard guard(m_stateLock);
        int state = StateReady;
        if (m_bFileValid == 0) {
            state = StateNoFile;
        } else if (m_bBusy == 1) {
            state = StateProgramming;
        } else if (m_bFailed == 1) {
            state = StateFailed;
        } else if (m_bPortFailed == 1) {
            state = StatePortFailed;
        }
        m_nState = state;
    }
    if (m_stateListener) {
        m_stateListener();
    }
}

void CTransferEngine::SetStateListener(std::function<void()> listener) {
    m_stateListener = std::move(listener);
}

DownloadProgress CTransferEngine::Progress() const {
    return m_timeLeft.At(MonotonicNowNs());
}

void CTransferEngine::TransferThreadProc(CTransferEngine* view) {
    view->RunTransfer();
}

void CTransferEngine::RunTransfer() {
    if (m_bBusy == 1) {
        m_pDoc->m_bTransferActive = 1;
        m_bPortFailed = 0;
        m_pDoc->ClosePort();
        m_pDoc->OpenPort(m_pNotifyWindow);
        if (!m_pDoc->IsPortOpen()) {
            m_bPortFailed = 1;
            EndTransfer();
            return;
        }
        if (TransferImage() == 0) {
            // The port stays open until the next run, Find Devices or exit.
            m_bFailed = 1;
            EndTransfer();
            return;
        }
        m_pDoc->ClosePort();
    }
    Sleep(100);
    EndTransfer();
}

void CTransferEngine::EndTransfer() {
    m_pDoc->m_bTransferActive = 0;
    m_timeLeft.Finish(MonotonicNowNs(), m_bFailed == 0 && m_bPortFailed == 0);
    m_bBusy = 0;
    UpdateState();
}

int CTransferEngine::TransferImage() {
    m_nProgress = 0;
    if (m_header.eraseBlk == 0) {
        m_header.eraseBlk = kDefaultEraseBlock;
    }
    const std::int64_t range =
        static_cast<std::int64_t>(m_header.lastAddress) - m_header.firstAddress;
    std::int64_t eraseBlocks = range / m_header.eraseBlk;
    if (range % m_header.eraseBlk != 0) {
        ++eraseBlocks;
    }
    const std::uint8_t setup[kIplPayload] = {Low8(m_header.manufacturer), Low8(m_header.product),
                                             Low8(m_header.hardware),     Low8(m_header.software),
                                             Low8(m_header.options),      0,
                                             Low8(eraseBlocks),           0};
    // A malformed image fails before anything reaches the device.
    if (!ImageHasEndRecord()) {
        return 0;
    }
    if (m_header.options == kBlockTimingOptions) {
        return BlockTiming(setup, static_cast<int>(eraseBlocks));
    }
    return RecordTiming(setup);
}

bool CTransferEngine::ImageHasEndRecord() const {
    const int length = std::clamp(m_nImageLength, 0, kfw::kImageBufferSize);
    int offset = 0;
    while (offset < length) {
        const int recordLength = m_pImage[offset];
        if (recordLength == 0) {
            return true;
        }
        offset += recordLength + kfw::kRecordOverhead;
        if (offset > length) {
            return false;
        }
    }
    return false;
}

int CTransferEngine::SendAddress(int offset) {
    std::uint8_t payload[kIplPayload] = {};
    std::memcpy(payload, &m_pImage[offset + kfw::kRecordAddressOffset], 3);
    return m_pDoc->SendIplMessage(IplAddress, payload);
}

int CTransferEngine::SendRecordData(int offset, int length, int pauseAfterEachMs) {
    // Every data message carries eight bytes: the last one of a record whose
    // length is not a multiple of eight takes the bytes that follow its data,
    // and bytes past the end of the image go as 0.
    const int imageLength = std::clamp(m_nImageLength, 0, kfw::kImageBufferSize);
    for (int i = 0; i < length; i += kIplPayload) {
        std::uint8_t payload[kIplPayload] = {};
        const int start = offset + kfw::kRecordDataOffset + i;
        const int available = std::clamp(imageLength - start, 0, kIplPayload);
        std::memcpy(payload, &m_pImage[start], static_cast<size_t>(available));
        if (m_pDoc->SendIplMessage(IplData, payload) == 0) {
            return 0;
        }
        if (pauseAfterEachMs > 0) {
            m_pDoc->PreciseDelay(pauseAfterEachMs);
        }
    }
    return 1;
}

int CTransferEngine::StopWithEnd() {
    Sleep(200);
    const std::uint8_t zero[kIplPayload] = {};
    m_pDoc->SendIplMessage(IplEnd, zero);
    return 0;
}

int CTransferEngine::BlockTiming(const std::uint8_t* setup, int eraseBlocks) {
    m_pDoc->SendIplMessage(IplSetup, setup);
    Sleep(35);
    if (m_pDoc->SendIplMessage(IplSetup, setup) == 0) {
        Sleep(300);
        if (m_pDoc->SendIplMessage(IplSetup, setup) == 0) {
            return 0;
        }
    }
    Sleep(100);
    // The erase wait is a 32-bit product, as the device's timing is given.
    const auto eraseMs =
        static_cast<std::int32_t>(static_cast<std::int64_t>(eraseBlocks) * m_header.eraseDly);
    m_pDoc->PreciseDelay(eraseMs);

    int programmed = 0;
    int offset = 0;
    while (m_bBusy == 1) {
        const int length = m_pImage[offset];
        if (length == 0) {
            const std::uint8_t zero[kIplPayload] = {};
            return m_pDoc->SendIplMessage(IplEnd, zero);
        }
        if (SendAddress(offset) == 0) {
            return 0;
        }
        m_pDoc->PreciseDelay(1);
        if (SendRecordData(offset, length, 0) == 0) {
            return 0;
        }
        offset += length + kfw::kRecordOverhead;
        m_nProgress = offset;
        m_timeLeft.Reached(offset, MonotonicNowNs());
        programmed += length;
        if (programmed >= m_header.progBlk) {
            programmed = 0;
            m_pDoc->PreciseDelay(m_header.delay);
        }
    }
    return StopWithEnd();
}

int CTransferEngine::RecordTiming(const std::uint8_t* setup) {
    const int pause = std::clamp(m_header.delay, 0, kMaxRecordPause);
    if (m_pDoc->SendIplMessage(IplSetup, setup) == 0) {
        return 0;
    }
    Sleep(100);
    int offset = 0;
    while (m_bBusy == 1) {
        const int length = m_pImage[offset];
        if (length == 0) {
            const std::uint8_t zero[kIplPayload] = {};
            return m_pDoc->SendIplMessage(IplEnd, zero);
        }
        if (SendAddress(offset) == 0) {
            return 0;
        }
        m_pDoc->PreciseDelay(5);
        if (SendRecordData(offset, length, pause != 0 ? 8 : 0) == 0) {
            return 0;
        }
        if (pause != 0) {
            m_pDoc->PreciseDelay(pause + 50);
        }
        offset += length + kfw::kRecordOverhead;
        m_nProgress = offset;
        m_timeLeft.Reached(offset, MonotonicNowNs());
    }
    return StopWithEnd();
}
