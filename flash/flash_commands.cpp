#include "flash/flash_commands.h"

#include "flash/flash_progress.h"
#include "loader/discovery_rows.h"
#include "loader/discovery_sink.h"
#include "loader/kelvload_doc.h"
#include "loader/loader_settings.h"
#include "loader/transfer_engine.h"
#include "platform/core/window_message.h"
#include "serial/port_failure.h"
#include "serial/port_names.h"
#include "serial/serial_wnd.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPollMs = 50;
constexpr int kBarRedrawMs = 250;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "trakbus-flash: %s\n", text.c_str());
}

// The loader's bus link with the stored port and rate, or those of the command line, and a
// receiver that hands the port's notifications to it on this thread.
class CFlashLink {
public:
    explicit CFlashLink(const FlashOptions& options) {
        LoadLoaderSettings(m_doc);
        if (options.port) {
            const int number = serial::ComPortNumber(*options.port);
            if (number > 0) {
                m_doc.m_ActiveComPort = number;
            } else {
                m_doc.m_PortName = *options.port;
            }
        }
        if (options.rateIndex) {
            m_doc.m_BitRate = *options.rateIndex;
        }
        m_notify.MapMessage(
            CSerialWnd::defaultComMessage,
            [this](platform::WParam w, platform::LParam) { m_doc.HandleSerialEvent(w); });
    }

    std::string PortName() const {
        return m_doc.m_PortName.empty() ? "COM" + std::to_string(m_doc.m_ActiveComPort)
                                        : m_doc.m_PortName;
    }
    // Whether the port's device is there at all.
    bool PortPresent() const {
        const std::optional<std::string> path = serial::ResolvePortName(PortName());
        return path && access(path->c_str(), F_OK) == 0;
    }
    bool OpenPort() {
        m_doc.OpenPort(&m_notify);
        return m_doc.IsPortOpen();
    }
    // The serial library's last error as a user reads it.
    std::string PortProblem() const {
        const std::int32_t error = m_doc.m_serial.GetLastError();
        if (!PortPresent() || error == SerialErrFileNotFound) {
            return "port " + PortName() + " is missing";
        }
        if (error == SerialErrAccessDenied) {
            const std::string reason = serial::RefusalText(m_doc.m_serial.GetLastRefusal());
            return "port " + PortName() +
                   (reason.empty() ? " is busy or not permitted" : ": " + reason);
        }
        if ((error & SerialErrnoBase) != 0) {
            return "port " + PortName() + " failed: " + std::strerror(error & ~SerialErrnoBase);
        }
        return "port " + PortName() + " failed";
    }
    // Whether the port went away under a run: the device is gone, or writing found it gone.
    bool PortLost() const {
        const std::int32_t error = m_doc.m_serial.GetLastError();
        return !PortPresent() || error == SerialErrFileNotFound ||
               error == (SerialErrnoBase | EIO) || error == (SerialErrnoBase | ENODEV) ||
               error == (SerialErrnoBase | ENXIO);
    }

    CKelvloadDoc m_doc;
    platform::WindowMessageReceiver m_notify;
};

// Runs this thread's events for `ms`, or until `done` holds when it is given.
void RunEvents(int ms, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done && done()) {
            loop.quit();
        }
    });
    poll.start(kPollMs);
    if (ms >= 0) {
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    }
    loop.exec();
}

// Collects the device rows of the replies, as the discovery window lists them.
class CReplyCollector final : public CDiscoverySink {
public:
    void ShowRssi(const std::uint8_t*) override {}
    void AddDiscoveryReply(const std::uint8_t* message) override {
        if (std::optional<DiscoveryRow> row = DecodeDiscoveryReply(message)) {
            rows.push_back(*row);
        }
    }
    std::vector<DiscoveryRow> rows;
};

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text,
                  value < 0x100    ? "%2.2X"
                  : value > 0xFFFF ? "%8.8X"
                                   : "%4.4X",
                  value);
    return text;
}

// Discovers with `product` as the filter and returns the rows that came within `waitMs`.
bool Discover(CFlashLink& link, int product, int waitMs, std::vector<DiscoveryRow>& rows) {
    CReplyCollector collector;
    link.m_doc.m_pDiscoverDlg = &collector;
    const bool sent = link.m_doc.SendDiscover(product) == 1;
    if (sent) {
        RunEvents(waitMs);
    }
    link.m_doc.m_pDiscoverDlg = nullptr;
    rows = collector.rows;
    return sent;
}

} // namespace

int RunDownload(const FlashOptions& options) {
    CFlashLink link(options);
    CTransferEngine engine(&link.m_doc, &link.m_notify);
    std::string info;
    if (engine.LoadFirmwareFile(options.file, info) != 0) {
        Complain(options.file + ": not a valid KFW file");
        return ExitFileNotValid;
    }
    if (!link.PortPresent()) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    CatchInterrupt();
    if (engine.StartStop(options.file, info) != 1) {
        Complain(options.file + ": not a valid KFW file");
        return ExitFileNotValid;
    }
    CProgressOutput output(isatty(STDERR_FILENO) == 1, options.quiet);
    bool stopping = false;
    std::int64_t lastMark = -1;
    QTimer redraw;
    const bool terminal = isatty(STDERR_FILENO) == 1;
    QObject::connect(&redraw, &QTimer::timeout, [&] {
        if (g_interrupted != 0 && !stopping) {
            stopping = true;
            output.Finish();
            Complain("stopping after the record under way");
            engine.StartStop({}, info);
        }
        const DownloadProgress progress = engine.Progress();
        // Plain lines follow the records; the bar also counts the time down between them.
        if (progress.running && (terminal || progress.markNs != lastMark)) {
            lastMark = progress.markNs;
            output.Show(progress);
        }
    });
    redraw.start(terminal ? kBarRedrawMs : kPollMs);
    RunEvents(-1, [&] { return !engine.IsWorkerRunning(); });
    redraw.stop();
    const DownloadProgress last = engine.Progress();
    if (last.percent == 100 && engine.m_nState == CTransferEngine::StateReady) {
        output.Show(last);
    }
    output.Finish();
    std::signal(SIGINT, SIG_DFL);

    if (engine.m_bPortFailed == 1) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    if (engine.m_bFailed == 1) {
        if (stopping) {
            Complain("stopped");
            return ExitProgrammingFailed;
        }
        // A port that went away during the run is a port failure, not the device's.
        if (link.PortLost()) {
            Complain("port " + link.PortName() + " was lost during the download");
            return ExitPortFailed;
        }
        Complain("programming failed");
        return ExitProgrammingFailed;
    }
    if (!options.quiet) {
        Complain("done");
    }
    return ExitDone;
}

int RunDiscover(const FlashOptions& options) {
    CFlashLink link(options);
    if (!link.OpenPort()) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    std::vector<DiscoveryRow> rows;
    if (!Discover(link, options.productGiven ? options.product : 0, options.waitMs, rows)) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    for (const DiscoveryRow& row : rows) {
        // Product names are padded to eight characters, as the list shows them.
        std::string line = row.device.empty() ? std::string(8, ' ') : row.device;
        line += "  serial " + Hex(row.serial) + "  software " + row.software + "  hardware " +
                row.hardware + "  IPL " + row.bootLoader;
        if (row.secondarySerial != 0) {
            line += "  second serial " + Hex(row.secondarySerial);
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    if (!options.quiet) {
        std::fprintf(stderr, "trakbus-flash: %zu device%s answered\n", rows.size(),
                     rows.size() == 1 ? "" : "s");
    }
    link.m_doc.ClosePort();
    return ExitDone;
}

int RunIdentify(const FlashOptions& options) {
    CFlashLink link(options);
    if (!link.OpenPort()) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    int product = options.product;
    if (!options.productGiven) {
        std::vector<DiscoveryRow> rows;
        if (!Discover(link, 0, options.waitMs, rows)) {
            Complain(link.PortProblem());
            return ExitPortFailed;
        }
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const DiscoveryRow& row) {
            return row.serial == options.serial;
        });
        if (found == rows.end()) {
            Complain("no device with serial number " + Hex(options.serial) + " answered");
            return ExitProgrammingFailed;
        }
        product = found->productCode;
    }
    if (link.m_doc.SendIdentify(product, options.serial) != 1) {
        Complain(link.PortProblem());
        return ExitPortFailed;
    }
    // The request is written; give the line time to carry it before the port closes.
    RunEvents(50);
    link.m_doc.ClosePort();
    if (!options.quiet) {
        Complain("identify request sent to serial number " + Hex(options.serial));
    }
    return ExitDone;
}
