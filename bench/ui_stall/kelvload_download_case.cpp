// kelvload downloads at 16457 bit/s while 20 port entries appear and vanish every 100 ms, so
// that the window's port list is refreshed again and again during the run.

#include "bench/ui_stall/stall_meter.h"
#include "loader/kelvload_app.h"
#include "loader/kelvload_view.h"
#include "loader/kfw_writer.h"
#include "platform/gui/settings_store.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_thread.h"

#include <QEventLoop>
#include <QTimer>
#include <array>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kBusCom = 21;
constexpr int kFirstChurnCom = 22;
constexpr int kChurnEntries = 20;
constexpr int kRecords = 180;

// Twenty pseudo-terminals whose port entries come and go together.
class PortChurn {
public:
    PortChurn() {
        for (int i = 0; i < kChurnEntries; ++i) {
            std::string error;
            m_masters[i] = OpenPseudoTerminal(m_paths[i], error);
        }
    }
    ~PortChurn() {
        for (CPortEntry& entry : m_entries) {
            entry.Remove();
        }
        for (int master : m_masters) {
            if (master >= 0) {
                close(master);
            }
        }
    }
    PortChurn(const PortChurn&) = delete;
    PortChurn& operator=(const PortChurn&) = delete;

    void Toggle() {
        m_present = !m_present;
        for (int i = 0; i < kChurnEntries; ++i) {
            std::string error;
            if (m_present) {
                m_entries[i].Create(kFirstChurnCom + i, m_paths[i], true, error);
            } else {
                m_entries[i].Remove();
            }
        }
        ++m_changes;
    }
    int Changes() const { return m_changes; }

private:
    std::array<int, kChurnEntries> m_masters{};
    std::array<std::string, kChurnEntries> m_paths;
    std::array<CPortEntry, kChurnEntries> m_entries;
    bool m_present = false;
    int m_changes = 0;
};

bool RunKelvloadDownload(CStallMeter& meter, std::string& detail) {
    const std::string path = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString() + "/stall.kfw";
    kfw::FirmwareHeader header;
    header.product = 12;
    std::vector<std::uint8_t> data(kRecords * 16);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    kfw::KfwWriteOptions options;
    options.recordLength = 16;
    SimConfig config;
    config.wireQueue = true;
    ExpectedFirmware firmware;
    std::string error;
    if (!kfw::WriteFirmwareFile(path, header, data, options) ||
        !LoadExpectedFirmware(path, firmware, error)) {
        detail = "cannot write the firmware file " + path + " " + error;
        return false;
    }
    config.expect = firmware;
    CSimThread bus(
        config, kBusCom, [](const std::string&) {}, [](const std::string&) {});
    if (!bus.Started()) {
        detail = "test bus: " + bus.Error();
        return false;
    }

    platform::SettingsStore store(QStringLiteral("kelvload"));
    store.WriteProfileString(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"),
                             QString::number(kBusCom));
    store.WriteProfileString(QStringLiteral("Settings\\Ints"), QStringLiteral("m_BitRate"),
                             QStringLiteral("2"));
    auto app = std::make_unique<CKelvloadApp>();
    if (!app->InitInstance({QString::fromStdString(path)}) || app->GetView() == nullptr) {
        detail = "kelvload did not start";
        return false;
    }
    CKelvloadView* view = app->GetView();

    PortChurn churn;
    QTimer churnTimer;
    churnTimer.setInterval(100);
    QObject::connect(&churnTimer, &QTimer::timeout, [&] { churn.Toggle(); });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!view->IsWorkerRunning()) {
            loop.quit();
        }
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);

    meter.Start();
    churnTimer.start();
    poll.start(20);
    view->OnStartStop();
    loop.exec();
    meter.Stop();
    churnTimer.stop();

    const bool succeeded =
        !view->IsWorkerRunning() && view->m_nState == CTransferEngine::StateReady;
    app.reset();
    bus.Stop();
    const bool checked = bus.Sim().DownloadsOk();
    detail = std::string("download ") + (succeeded ? "succeeded" : "FAILED") + ", test bus " +
             (checked ? "found it correct" : "found it WRONG") + ", " +
             std::to_string(churn.Changes()) + " changes of " + std::to_string(kChurnEntries) +
             " port entries";
    return succeeded && checked;
}

const StallCaseEntry kEntry({"kelvload-download",
                             "kelvload downloads at 16457 bit/s while 20 port entries come and go",
                             RunKelvloadDownload});

} // namespace
