// Where the time of one IPL message goes: the loader's bus link sends IplData
// messages one at a time through the test bus on a pty, each followed by the
// 5 ms pause that follows an address, and every stage of each message is
// time-stamped on the thread that reaches it. Prints the median and the 90th
// percentile of each stage.
//
//   echo_stage_bench [bit rate] [messages]   (default 115200 2000)

#include "busproto/messages.h"
#include "loader/kelvload_doc.h"
#include "loader/precise_delay.h"
#include "serial/serial_wnd.h"
#include "tools/sim/bus_sim.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Stamps of the message in flight; only one is in flight at a time.
std::atomic<std::int64_t> g_busRead{0};     // the test bus has the whole message
std::atomic<std::int64_t> g_echoWritten{0}; // the test bus writes the echo
std::atomic<std::int64_t> g_recognised{0};  // read and assembled on the event thread

// Stamps the echo's recognition where the link reads the port.
class CEchoStamp : public CLinkObserver {
public:
    void OnIplWrite(const std::uint8_t*, int, int, std::int32_t) override {}
    void OnEchoCheck(const std::uint8_t*, int, bool matched) override {
        if (matched) {
            g_recognised = MonotonicNowNs();
        }
    }
    void OnIplDone(const std::uint8_t*, int, bool) override {}
};

struct Stage {
    const char* name;
    std::vector<double> us;
};

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(share * (values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

} // namespace

int main(int argc, char** argv) {
    const int bitRate = argc > 1 ? std::atoi(argv[1]) : 115200;
    const int messages = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    int rateIndex = -1;
    for (int i = 0; i < kBitRateCount; ++i) {
        if (static_cast<int>(kBitRates[i]) == bitRate) {
            rateIndex = i;
        }
    }
    if (rateIndex < 0) {
        std::fprintf(stderr, "usage: echo_stage_bench [bit rate of the loader] [messages]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir configDir;
    setenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit().constData(), 1);

    constexpr int kComPort = 31;
    std::string path;
    std::string error;
    int master = OpenPseudoTerminal(path, error);
    CPortEntry entry;
    int stop[2] = {-1, -1};
    if (master < 0 || !entry.Create(kComPort, path, false, error) || pipe2(stop, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "test bus: %s\n", error.c_str());
        return 1;
    }
    SimConfig config;
    config.verbose = true; // a log line as each message is taken and as each echo goes out
    const LineSink log = [](const std::string& line) {
        if (line.rfind("rx ", 0) == 0) {
            g_busRead = MonotonicNowNs();
        } else if (line.rfind("tx:", 0) == 0) {
            g_echoWritten = MonotonicNowNs();
        }
    };
    CBusSim sim(config, log, [](const std::string&) {});
    std::thread bus([&] {
        LoopControl control;
        control.fd = stop[0];
        control.onReadable = [] { return false; };
        RunSimLoop(sim, master, control, log);
    });

    platform::WindowMessageReceiver notify;
    CKelvloadDoc doc;
    CEchoStamp stamp;
    doc.m_ActiveComPort = kComPort;
    doc.m_BitRate = rateIndex;
    doc.m_pObserver = &stamp;
    notify.MapMessage(CSerialWnd::defaultComMessage,
                      [&](platform::WParam w, platform::LParam) { doc.HandleSerialEvent(w); });

    const double wireUs = 16.0 * 10 * 1e6 / bitRate;
    std::vector<Stage> stages = {
        {"write call until the bus has read the message", {}},
        {"echo written, after the end of the message's wire time", {}},
        {"  the same counted from the bus's read of the message", {}},
        {"echo written until it is read and recognised", {}},
        {"echo recognised until the worker is awake (1)", {}},
        {"pause of 5 ms beyond 5 ms", {}},
        {"whole message beyond wire time and pause", {}},
    };
    int failed = 0;
    QThread* worker = QThread::create([&] {
        doc.OpenPort(&notify);
        if (!doc.IsPortOpen()) {
            failed = messages;
            return;
        }
        PreciseDelayMs(100); // the test bus sees the port open
        std::uint8_t payload[8] = {};
        for (int i = 0; i < messages; ++i) {
            payload[0] = static_cast<std::uint8_t>(i);
            g_busRead = g_echoWritten = g_recognised = 0;
            const std::int64_t start = MonotonicNowNs();
            if (doc.SendIplMessage(IplData, payload) == 0) {
                ++failed;
                continue;
            }
            const std::int64_t woken = MonotonicNowNs();
            // The event thread stamps the recognition before it wakes this
            // thread, but the stamp may still be on its way.
            while (g_recognised == 0 && MonotonicNowNs() - woken < 100'000'000) {
                std::this_thread::yield();
            }
            PreciseDelayMs(5);
            const std::int64_t end = MonotonicNowNs();
            const auto us = [](std::int64_t from, std::int64_t to) {
                return static_cast<double>(to - from) / 1000.0;
            };
            // The wire time runs from the write call on, so the echo's
            // lateness includes the write itself and the bus's read.
            stages[0].us.push_back(us(start, g_busRead));
            stages[1].us.push_back(us(start, g_echoWritten) - wireUs);
            stages[2].us.push_back(us(g_busRead, g_echoWritten) - wireUs);
            stages[3].us.push_back(us(g_echoWritten, g_recognised));
            stages[4].us.push_back(us(g_recognised, woken));
            stages[5].us.push_back(us(woken, end) - 5000.0);
            stages[6].us.push_back(us(start, end) - wireUs - 5000.0);
        }
        doc.ClosePort();
    });
    QObject::connect(worker, &QThread::finished, &app, &QCoreApplication::quit);
    worker->start();
    app.exec();
    worker->wait();
    delete worker;
    const char byte = 1;
    if (write(stop[1], &byte, 1) == 1) {
        bus.join();
    }

    std::printf("%d IplData messages at %d bit/s (wire time %.0f us each), %d failed\n", messages,
                bitRate, wireUs, failed);
    std::printf("%-55s %10s %10s\n", "stage", "median us", "90 % us");
    std::printf("(1) from the stamp before the wake-up\n");
    for (const Stage& stage : stages) {
        std::printf("%-55s %10.1f %10.1f\n", stage.name, Percentile(stage.us, 0.5),
                    Percentile(stage.us, 0.9));
    }
    close(master);
    return failed == 0 ? 0 : 1;
}
