// Timing program for the window of kelvmon while it sends a file over a slow line: the test bus
// takes the bytes no faster than the line carries them (the wire queue), so that the port's
// writes wait as on an adapter. A 64 KiB file of 4-byte messages goes out by "Send File" while
// "Send Msg1" is clicked every 200 ms; the bus counts every byte of both on the line. Reported:
// the worst stall of the window's event loop (goal: at most 20 ms), the transfer's outcome as the
// status bar tells it, and whether every byte of the file, in order, and of every message
// clicked reached the bus. Exit code 0 when all of it holds.
//
// An adapter tells the driver how much of its output has not gone out yet, where a
// pseudo-terminal always says none; so the driver's queue is taken to be what the bus has not
// counted yet, and kelvmon's writes wait for the line as on an adapter.
//
//   monitor_send_stall_bench [bit rate]   (default 16457; a whole file at 1200 takes ten minutes)

#include "bench/monitor/kelvmon_bench_port.h"
#include "busproto/checksum.h"
#include "monitor/kelvmon_app.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/kelvmon_view.h"
#include "monitor/main_frame.h"
#include "monitor/monitor_settings.h"
#include "platform/gui/settings_store.h"
#include "serial/output_queue.h"
#include "tools/sim/bus_sim.h"
#include "tools/sim/sim_loop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kFileMessages = 16384; // 4 bytes each: 64 KiB, 256 to a 1024-byte chunk
constexpr std::uint8_t kFileOpcode = 0xB2;
constexpr int kClickMs = 200;
constexpr int kProbeMs = 5;

QByteArray FileMessages() {
    QByteArray file;
    for (int i = 0; i < kFileMessages; ++i) {
        std::uint8_t m[4] = {kFileOpcode, std::uint8_t((i >> 7) & 0x7F), std::uint8_t(i & 0x7F), 0};
        m[3] = ComputeChecksum(3, m);
        file.append(reinterpret_cast<const char*>(m), 4);
    }
    return file;
}

// What the bus counts from its "rx N: .." lines, one per message taken from the line.
struct LineCount {
    std::atomic<long> fileBytes{0};
    std::atomic<long> fileOutOfOrder{0};
    std::atomic<long> messageBytes{0};
    std::atomic<long> otherBytes{0};
    int nextFileMessage = 0; // on the bus's thread only

    void Take(const std::string& line) {
        if (line.rfind("rx ", 0) != 0)
            return;
        const std::size_t colon = line.find(':');
        std::vector<unsigned> bytes;
        for (std::size_t i = colon + 1; i + 3 <= line.size(); i += 3)
            bytes.push_back(unsigned(std::stoul(line.substr(i + 1, 2), nullptr, 16)));
        if (bytes.size() == 4 && bytes[0] == kFileOpcode) {
            const int number = int(bytes[1] << 7 | bytes[2]);
            fileOutOfOrder += number != nextFileMessage;
            nextFileMessage = number + 1;
            fileBytes += 4;
        } else if (bytes.size() == 2 && bytes[0] == 0x81) {
            messageBytes += 2;
        } else {
            otherBytes += long(bytes.size());
        }
    }
};

// The driver's output queue of an adapter on the bus's line: what was written and not yet
// counted on the line, less what a timed-out write threw away.
class LineQueue : public serial::OutputQueue {
public:
    explicit LineQueue(const LineCount& line) : m_line(line) {}

    void Wrote(int, int count) override { m_written += count; }
    int Queued(int) override { return int(std::max(0L, m_written - Taken() - m_discarded)); }
    void Discard(int) override { m_discarded = std::max(0L, m_written - Taken()); }

private:
    long Taken() const {
        return m_line.fileBytes.load() + m_line.messageBytes.load() + m_line.otherBytes.load();
    }

    const LineCount& m_line;
    std::atomic<long> m_written{0};
    std::atomic<long> m_discarded{0};
};

// The transfer's outcome as the status bar shows it.
QString ProgressText(CKelvmonApp& app) {
    for (QLabel* label : app.Frame()->statusBar()->findChildren<QLabel*>())
        if (label->accessibleName() == QStringLiteral("Send file progress"))
            return label->text();
    return {};
}

} // namespace

int main(int argc, char** argv) {
    const int rate = argc > 1 ? std::atoi(argv[1]) : 16457;
    const auto rateIndex =
        std::find(std::begin(kMonitorBitRates), std::end(kMonitorBitRates), rate);
    if (rateIndex == std::end(kMonitorBitRates)) {
        std::fprintf(stderr, "%d bit/s is not one of kelvmon's rates\n", rate);
        return 1;
    }
    QTemporaryDir dir;
    CPortEntry entry;
    int master = PrepareKelvmonBench(dir, entry);
    if (master < 0)
        return 1;
    QApplication qt(argc, argv);
    const QString sendFile = dir.filePath(QStringLiteral("send.cap"));
    QFile out(sendFile);
    const QByteArray file = FileMessages();
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(sendFile));
        return 1;
    }
    out.close();
    platform::SettingsStore store(QStringLiteral("kelvmon"));
    const QString ints = QStringLiteral("Settings\\Ints");
    store.WriteProfileString(ints, QStringLiteral("m_ActiveComPort"), QStringLiteral("3"));
    store.WriteProfileString(ints, QStringLiteral("m_BitRate"),
                             QString::number(rateIndex - std::begin(kMonitorBitRates)));
    store.WriteProfileString(QStringLiteral("Settings\\Strings"), QStringLiteral("m_SendFilePath"),
                             sendFile);

    // Declared before the program, so that its port never outlives them.
    LineCount line;
    LineQueue queue(line);
    serial::SetOutputQueueStandIn(&queue);
    CKelvmonApp app;
    if (!app.InitInstance({}) || !app.View()->IsPortOpen()) {
        std::fprintf(stderr, "kelvmon did not start with its port open\n");
        return 1;
    }
    CKelvmonView& view = *app.View();

    SimConfig config;
    config.wireQueue = true;
    config.verbose = true;
    CBusSim sim(
        config, [&](const std::string& text) { line.Take(text); }, [](const std::string&) {});
    int stop[2] = {-1, -1};
    if (pipe(stop) != 0)
        return 1;
    std::thread bus([&] {
        LoopControl control;
        control.fd = stop[0];
        control.onReadable = [] { return false; };
        RunSimLoop(sim, master, control, [](const std::string&) {});
    });

    // The longest the event loop was kept from a 5 ms timer, beyond its period.
    qint64 worstStallMs = 0;
    long stallsOver20 = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 stall = gap.restart() - kProbeMs;
        worstStallMs = std::max(worstStallMs, stall);
        stallsOver20 += stall > 20;
    });
    probe.start(kProbeMs);

    long clicks = 0;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (!view.SendingFile())
            return;
        view.Item<QAbstractButton>(kelvmon::IdcSendMsg1)->click();
        ++clicks;
    });

    // Half as long again as the file's wire time (the messages add less than a tenth at 1200).
    const qint64 limitMs = qint64(file.size()) * 10 * 1000 / rate * 3 / 2 + 30000;
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer check;
    bool complete = false;
    long lastCount = -1;
    QElapsedTimer still; // since the bus last counted a byte
    still.start();
    QObject::connect(&check, &QTimer::timeout, [&] {
        const long count = line.fileBytes.load() + line.messageBytes.load();
        if (count != lastCount) {
            lastCount = count;
            still.restart();
        }
        complete = !view.SendingFile() && line.fileBytes.load() == file.size() &&
                   line.messageBytes.load() == 2 * clicks;
        // Done, or the transfer has ended and the line has been quiet for 5 s.
        if (complete || (!view.SendingFile() && still.elapsed() > 5000) || wall.elapsed() > limitMs)
            loop.quit();
    });
    view.Item<QAbstractButton>(kelvmon::IdcSendFile)->click();
    clicker.start(kClickMs);
    check.start(100);
    loop.exec();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    probe.stop();
    if (write(stop[1], "x", 1) != 1)
        return 1;
    bus.join();

    std::printf("line                        %d bit/s, wire queue\n", rate);
    std::printf("file                        %lld bytes in %d messages\n",
                static_cast<long long>(file.size()), kFileMessages);
    std::printf("Send Msg1 clicks            %ld, every %d ms during the transfer\n", clicks,
                kClickMs);
    std::printf("file bytes on the line      %ld (%ld messages out of order)\n",
                line.fileBytes.load(), line.fileOutOfOrder.load());
    std::printf("message bytes on the line   %ld of %ld\n", line.messageBytes.load(), 2 * clicks);
    std::printf("other bytes on the line     %ld\n", line.otherBytes.load());
    std::printf("time                        %.1f s\n", elapsed);
    std::printf("kelvmon says                \"%s\"\n", qPrintable(ProgressText(app)));
    std::printf("worst event-loop stall      %lld ms (goal: at most 20); %ld over 20 ms\n",
                static_cast<long long>(worstStallMs), stallsOver20);
    close(master);
    const bool whole = complete && line.fileOutOfOrder.load() == 0 && line.otherBytes.load() == 0;
    return whole && worstStallMs <= 20 ? 0 : 2;
}
