// Timing program for the monitor's receive path at full bus load: the test bus sends made-up
// messages at 100 % of a 256000 bit/s line into kelvmon (Trakbus mode, time stamps and capture
// on) for a while, then the messages sent are held against the lines shown and captured, and
// the CPU share of the monitor (its threads, not the bus) is reported.
//
//   monitor_receive_bench [seconds]   (default 60)

#include "bench/monitor/kelvmon_bench_port.h"
#include "monitor/kelvmon_app.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/kelvmon_view.h"
#include "platform/gui/settings_store.h"
#include "tools/sim/bus_sim.h"
#include "tools/sim/sim_loop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Counts the messages in the bus's "tx:" log lines (every generated message is valid here, so
// each opcode starts one).
std::atomic<long> g_messagesSent{0};
std::atomic<long> g_bytesSent{0};

void CountSent(const std::string& line) {
    if (line.rfind("tx:", 0) != 0)
        return;
    long messages = 0;
    long bytes = 0;
    for (std::size_t i = 3; i + 3 <= line.size(); i += 3) {
        const unsigned value = std::stoul(line.substr(i + 1, 2), nullptr, 16);
        ++bytes;
        messages += (value & 0x80) != 0;
    }
    g_messagesSent += messages;
    g_bytesSent += bytes;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir dir;
    CPortEntry entry;
    int master = PrepareKelvmonBench(dir, entry);
    if (master < 0)
        return 1;
    QApplication qt(argc, argv);
    const QString capture = dir.filePath(QStringLiteral("bench.cap"));
    platform::SettingsStore store(QStringLiteral("kelvmon"));
    store.WriteProfileString(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"),
                             QStringLiteral("3"));
    store.WriteProfileString(QStringLiteral("Settings\\Ints"), QStringLiteral("m_BitRate"),
                             QStringLiteral("11"));
    store.WriteProfileString(QStringLiteral("Settings\\Ints"), QStringLiteral("m_UseTimeStamp"),
                             QStringLiteral("1"));
    store.WriteProfileString(QStringLiteral("Settings\\Strings"),
                             QStringLiteral("m_CaptureFilePath"), capture);

    CKelvmonApp app;
    if (!app.InitInstance({}) || !app.View()->IsPortOpen()) {
        std::fprintf(stderr, "kelvmon did not start with its port open\n");
        return 1;
    }
    CKelvmonView& view = *app.View();
    view.Item<QAbstractButton>(kelvmon::IdcCaptureActive)->click();
    if (!view.CaptureFileOpen()) {
        std::fprintf(stderr, "capture did not start\n");
        return 1;
    }

    SimConfig config;
    config.traffic.loadPercent = 100;
    config.verbose = true;
    CBusSim sim(config, CountSent, [](const std::string&) {});
    std::atomic<bool> busDone{false};
    double busCpu = 0;
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::thread bus([&] {
        LoopControl control;
        control.endAt = MonotonicNow() + Ms(1000LL * seconds);
        RunSimLoop(sim, master, control, [](const std::string&) {});
        busCpu = ThreadCpuSeconds();
        busDone = true;
    });

    // The longest time the event loop was kept from a 10 ms timer: the window's responsiveness.
    qint64 worstGapMs = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { worstGapMs = std::max(worstGapMs, gap.restart()); });
    probe.start(10);

    // A loop of its own: quitting the application would close the monitor's window.
    QEventLoop loop;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        if (busDone && view.TrafficList().LineCount() >= g_messagesSent.load())
            loop.quit();
        if (busDone && wall.elapsed() > 1000LL * (seconds + 10))
            loop.quit(); // lines are missing: report what came
    });
    drain.start(100);
    loop.exec();
    bus.join();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double monitorCpu = ProcessCpuSeconds() - cpuBefore - busCpu;
    view.Item<QAbstractButton>(kelvmon::IdcCaptureActive)->click(); // closes the file

    QFile file(capture);
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    const long captured = text.count("\r\n");
    const long shown = static_cast<long>(view.TrafficList().LineCount());

    std::printf("bus                         256000 bit/s, 100 %% load, %d s\n", seconds);
    std::printf("bytes sent                  %ld\n", g_bytesSent.load());
    std::printf("messages sent               %ld\n", g_messagesSent.load());
    std::printf("lines shown                 %ld\n", shown);
    std::printf("lines captured              %ld\n", captured);
    std::printf("lost                        %ld\n",
                g_messagesSent.load() - std::min(shown, captured));
    std::printf("kelvmon CPU                 %.2f s of %.1f s (%.1f %% of one core)\n", monitorCpu,
                elapsed, 100.0 * monitorCpu / elapsed);
    std::printf("worst event-loop delay      %lld ms\n", static_cast<long long>(worstGapMs));
    std::printf("capture file                %.1f MB\n", double(text.size()) / 1e6);
    close(master);
    return shown == g_messagesSent && captured == g_messagesSent ? 0 : 2;
}
