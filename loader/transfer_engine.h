#pragma once

#include "loader/kelvload_doc.h"
#include "loader/kfw_file.h"
#include "loader/time_left.h"

#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The firmware download and the programming state of the loader's main view.
// The view owns or derives from this class and keeps these members under
// their names; it shows m_nState and m_nProgress and its OnStartStop calls
// StartStop, but it repeats none of the logic here.
//
// A run goes on a worker thread of its own: it opens the port, sends the IPL
// messages with the pauses of the file's timing scheme, closes the port and
// records the outcome. The echoes that confirm each message are recognised on
// the port's event thread, so a run does not depend on the user-interface
// thread.
class CTransferEngine {
public:
    // Display states, derived from the flags by UpdateState.
    enum DisplayState {
        StateReady = 0,
        StateNoFile = 1,
        StatePortFailed = 2,
        StateProgramming = 3,
        StateFailed = 4,
    };

    // `notifyWindow` receives the serial notifications of the port that a run
    // opens; its owner passes them to pDoc->HandleSerialEvent.
    CTransferEngine(CKelvloadDoc* pDoc, platform::WindowMessageReceiver* notifyWindow);
    // Asks a running download to stop and waits for the worker.
    virtual ~CTransferEngine();
    CTransferEngine(const CTransferEngine&) = delete;
    CTransferEngine& operator=(const CTransferEngine&) = delete;

    // Loads the KFW file at `path` into m_header, m_pImage and m_nImageLength,
    // and its summary into `info`; sets m_bFileValid. Returns 0 on success,
    // 1 on failure. While a worker is alive the image is in use: nothing is
    // loaded and the result is -1.
    int LoadFirmwareFile(const std::string& path, std::string& info);

    // The start/stop command. While a run is wanted it only clears m_bBusy
    // (the stop request). Otherwise it reloads the file at `path` and starts
    // a run on a new worker thread. Returns 1 when a run was started.
    int StartStop(const std::string& path, std::string& info);

    // True from the start of a run until its worker thread has ended.
    bool IsWorkerRunning() const;
    // Clears m_bBusy and waits for the worker to end: the record under way is
    // finished and the end message sent.
    void StopAndWait();

    // Sets m_nState from the flags, then tells the state listener. Called
    // after every flag change, from either thread.
    void UpdateState();
    // Called after every UpdateState, on the thread that changed the state;
    // set it before the first run. The owner must stop the worker (StopAndWait)
    // before anything the listener uses goes away.
    void SetStateListener(std::function<void()> listener);

    // Per cent, messages sent and time left of the run under way or last run.
    DownloadProgress Progress() const;

    // The worker: entry function, the run, the download and its end.
    static void TransferThreadProc(CTransferEngine* view);
    void RunTransfer();
    // The download by the steps of download_steps.h, on the bus.
    int TransferImage();
    void EndTransfer();

    CKelvloadDoc* m_pDoc;
    platform::WindowMessageReceiver* m_pNotifyWindow;

    kfw::FirmwareHeader m_header;
    std::unique_ptr<std::uint8_t[]> m_pImage;
    int m_nImageLength = 0;

    std::atomic<int> m_nProgress{0};
    std::atomic<int> m_bBusy{0};
    std::atomic<int> m_bFailed{0};
    std::atomic<int> m_bPortFailed{0};
    std::atomic<int> m_bFileValid{0};
    std::atomic<int> m_nState{StateNoFile};

    std::unique_ptr<QThread> m_pWorker;
    CTimeLeft m_timeLeft;

private:
    std::mutex m_stateLock;
    std::function<void()> m_stateListener;
};
