#include "loader/transfer_engine.h"

#include "loader/download_steps.h"
#include "loader/precise_delay.h"

#include <chrono>
#include <thread>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// QThread's end and wait() synchronise inside Qt, which ThreadSanitizer does not see; these
// tell it that everything the worker did happens before its wait() returns.
void WorkerEnded([[maybe_unused]] void* engine) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(engine);
#endif
}
void WorkerJoined([[maybe_unused]] void* engine) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(engine);
#endif
}

} // namespace

namespace {

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The download's steps taken on the bus through the link, with the engine's
// stop request and progress.
class CBusSteps : public CDownloadSteps {
public:
    explicit CBusSteps(CTransferEngine& engine) : m_engine(engine) {}

protected:
    int Send(std::uint8_t kind, const std::uint8_t* payload) override {
        return m_engine.m_pDoc->SendIplMessage(kind, payload);
    }
    void Delay(int milliseconds) override { m_engine.m_pDoc->PreciseDelay(milliseconds); }
    void Sleep(int milliseconds) override { ::Sleep(milliseconds); }
    bool Busy() override { return m_engine.m_bBusy == 1; }
    void RecordDone(int offset) override {
        m_engine.m_nProgress = offset;
        m_engine.m_timeLeft.Reached(offset, MonotonicNowNs());
    }

private:
    CTransferEngine& m_engine;
};

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
        WorkerJoined(this);
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
        WorkerJoined(this);
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
    WorkerEnded(view);
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
    Sleep(kClosingPauseMs);
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
    CBusSteps steps(*this);
    return steps.TransferImage(m_header, m_pImage.get(), m_nImageLength);
}
