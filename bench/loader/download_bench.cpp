// A full firmware download through the test bus (or the tests' smaller
// stand-in) on a pty, both emulating the wire time of every byte. Prints the
// total time, its ratio to the floor (the wire time of every message plus the
// pauses that the download requires) and the CPU time of the worker thread.
//
//   download_bench [bit rate] [image KiB] [record length] [record|block] [sim|standin]
//   download_bench ser2net [image KiB] [record length]
//
// The second form downloads through Debian's ser2net (RFC 2217 on the loopback
// interface) in front of the test bus and directly, at 16457 and at 115200
// bit/s, and prints each ratio to the floor beside the direct one.

#include "loader/kfw_writer.h"
#include "loader/precise_delay.h"
#include "loader/transfer_engine.h"
#include "serial/port_names.h"
#include "serial/serial_wnd.h"
#include "tests/support/pty_bus.h"
#include "tests/support/ser2net_server.h"
#include "tools/sim/sim_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

double Seconds(std::int64_t ns) {
    return static_cast<double>(ns) / 1e9;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The test bus on a thread, as COM<comNumber>.
class SimBus {
public:
    explicit SimBus(int comNumber) : m_bus(SimConfig{}, comNumber, m_log, m_report) {
        if (!m_bus.Started()) {
            std::fprintf(stderr, "test bus: %s\n", m_bus.Error().c_str());
            std::exit(1);
        }
    }

    // Writes: every complete message the loader wrote, repeats included.
    int Writes() {
        int writes = 0;
        for (const auto& report : m_bus.Sim().BootLoader().Reports()) {
            writes += report.writes;
        }
        return writes;
    }
    void Print(bool withLog) {
        std::lock_guard guard(m_mutex);
        for (const auto& line : m_reportLines) {
            std::printf("  test bus: %s\n", line.c_str());
        }
        for (const auto& line : withLog ? m_logTail : std::deque<std::string>()) {
            std::printf("  test bus log: %s\n", line.c_str());
        }
    }

    const std::string& Path() const { return m_bus.Path(); }

    // Ends the loop and closes the download's report (wire time on, no faults).
    void Finish() { m_bus.Stop(); }

private:
    // The test bus's own report of the download, and the end of its log.
    std::mutex m_mutex;
    std::vector<std::string> m_reportLines;
    std::deque<std::string> m_logTail;
    LineSink m_report = [this](const std::string& line) {
        std::lock_guard guard(m_mutex);
        m_reportLines.push_back(line);
    };
    LineSink m_log = [this](const std::string& line) {
        std::lock_guard guard(m_mutex);
        m_logTail.push_back(line);
        if (m_logTail.size() > 40) {
            m_logTail.pop_front();
        }
    };
    CSimThread m_bus; // last: its thread ends before the sinks go
};

constexpr int kComPort = 31;

// The least time a download of the file can take: every message's 16 bytes on the wire, the
// pauses of the timing scheme and the worker's closing sleep. The messages follow from the file:
// the setup (twice with block timing), per record an address and a data message for every eight
// bytes begun, and the end.
struct DownloadFloor {
    long records = 0;
    long messages = 0;
    std::int64_t wireNs = 0;
    std::int64_t pausesMs = 0;
    std::int64_t Ns() const { return wireNs + pausesMs * 1'000'000; }
};

DownloadFloor FloorOf(long dataSize, int recordLength, bool block,
                      const kfw::FirmwareHeader& header, int bitRate) {
    DownloadFloor floor;
    floor.records = (dataSize + recordLength - 1) / recordLength;
    const long fullRecords = dataSize / recordLength;
    const long lastLength = dataSize % recordLength;
    floor.messages = (block ? 2 : 1) + 1;
    floor.pausesMs = 100 + 100; // after the setup, after the run
    long programmed = 0;
    for (long r = 0; r < floor.records; ++r) {
        const long length = r < fullRecords ? recordLength : lastLength;
        floor.messages += 1 + (length + 7) / 8;
        if (block) {
            floor.pausesMs += 1;
            programmed += length;
            if (programmed >= header.progBlk) {
                programmed = 0;
                floor.pausesMs += header.delay;
            }
        } else {
            floor.pausesMs += 5;
        }
    }
    if (block) {
        floor.pausesMs += 35 + (dataSize + 1023) / 1024 * header.eraseDly;
    }
    floor.wireNs = floor.messages * 16LL * 10 * 1'000'000'000 / bitRate;
    return floor;
}

struct DownloadRun {
    std::int64_t totalNs = 0;
    int state = -1;
    int progress = 0;
    int imageLength = 0;
    double workerCpu = 0;
};

// One download of the file at `path` by the loader's engine to COM31.
DownloadRun Download(const std::string& path, int rateIndex) {
    platform::WindowMessageReceiver notify;
    CKelvloadDoc doc;
    doc.m_ActiveComPort = kComPort;
    doc.m_BitRate = rateIndex;
    notify.MapMessage(CSerialWnd::defaultComMessage,
                      [&](platform::WParam w, platform::LParam) { doc.HandleSerialEvent(w); });
    CTransferEngine engine(&doc, &notify);
    QThread* uiThread = QThread::currentThread();
    std::atomic<double> workerCpu{0};
    engine.SetStateListener([&] {
        if (QThread::currentThread() != uiThread) {
            workerCpu = ThreadCpuSeconds(); // the worker's last state change ends its run
        }
    });
    DownloadRun run;
    std::string info;
    const std::int64_t start = MonotonicNowNs();
    if (engine.StartStop(path, info) != 1) {
        std::fprintf(stderr, "the file did not load\n");
        std::exit(1);
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!engine.IsWorkerRunning()) {
            loop.quit();
        }
    });
    poll.start(10);
    loop.exec();
    run.totalNs = MonotonicNowNs() - start;
    run.state = engine.m_nState;
    run.progress = engine.m_nProgress;
    run.imageLength = engine.m_nImageLength;
    run.workerCpu = workerCpu.load();
    return run;
}

int RateIndexOf(int bitRate) {
    for (int i = 0; i < kBitRateCount; ++i) {
        if (static_cast<int>(kBitRates[i]) == bitRate) {
            return i;
        }
    }
    return -1;
}

// Downloads directly and through ser2net at both ends of the usual rates; prints the ratios.
int CompareWithSer2net(const std::string& path, const std::string& directory, long dataSize,
                       int recordLength, const kfw::FirmwareHeader& header) {
    int failures = 0;
    std::printf("rate    direct ratio  ser2net ratio  ser2net/direct\n");
    for (const int bitRate : {16457, 115200}) {
        const DownloadFloor floor = FloorOf(dataSize, recordLength, false, header, bitRate);
        double ratios[2] = {0, 0};
        for (const bool viaSer2net : {false, true}) {
            SimBus bus(kComPort);
            std::unique_ptr<Ser2netServer> server;
            if (viaSer2net) {
                server = std::make_unique<Ser2netServer>(directory, bus.Path(), "/dev/null");
                std::string error;
                if (!server->Start(error) ||
                    !WriteNetworkPortEntry(kComPort, server->Rfc2217Url())) {
                    std::fprintf(stderr, "ser2net: %s\n", error.c_str());
                    return 1;
                }
            }
            const DownloadRun run = Download(path, RateIndexOf(bitRate));
            bus.Finish();
            std::filesystem::remove(serial::PortDirectory() + "/COM" + std::to_string(kComPort));
            if (run.state != CTransferEngine::StateReady) {
                ++failures;
                bus.Print(true);
            }
            ratios[viaSer2net ? 1 : 0] =
                static_cast<double>(run.totalNs) / static_cast<double>(floor.Ns());
        }
        std::printf("%-7d %12.3f  %13.3f  %14.3f\n", bitRate, ratios[0], ratios[1],
                    ratios[1] / ratios[0]);
    }
    std::printf("%ld messages per download, %ld records of %d\n",
                FloorOf(dataSize, recordLength, false, header, 16457).messages,
                FloorOf(dataSize, recordLength, false, header, 16457).records, recordLength);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // "ser2net" takes the bit rate's place: the comparison has rates of its own.
    const bool compare = argc > 1 && std::strcmp(argv[1], "ser2net") == 0;
    const int bitRate = argc > 1 && !compare ? std::atoi(argv[1]) : 115200;
    const int imageKiB = argc > 2 ? std::atoi(argv[2]) : 200;
    const int recordLength = argc > 3 ? std::atoi(argv[3]) : 64;
    const bool block = argc > 4 && std::strcmp(argv[4], "block") == 0;
    const bool standIn = argc > 5 && std::strcmp(argv[5], "standin") == 0;
    const int rateIndex = RateIndexOf(bitRate);
    if (rateIndex < 0 || imageKiB <= 0 || recordLength < 1 || recordLength > 255) {
        std::fprintf(stderr, "usage: download_bench [bit rate] [image KiB] [record length 1..255] "
                             "[record|block] [sim|standin]\n"
                             "       download_bench ser2net [image KiB] [record length]\n");
        return 2;
    }

    QCoreApplication app(argc, argv);
    QTemporaryDir configDir;
    setenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit().constData(), 1);

    // Data bytes so that the stored image is about the size asked for.
    const long dataSize = static_cast<long>(imageKiB) * 1024 * recordLength / (recordLength + 6);
    std::vector<std::uint8_t> data(static_cast<size_t>(dataSize));
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    kfw::FirmwareHeader header;
    if (block) {
        header.options = 2;
        header.lastAddress = static_cast<std::int32_t>(dataSize);
        header.eraseBlk = 1024;
        header.eraseDly = 2;
        header.progBlk = 256;
        header.delay = 3;
    }
    kfw::KfwWriteOptions options;
    options.recordLength = recordLength;
    const std::string path = configDir.filePath("bench.kfw").toStdString();
    if (!kfw::WriteFirmwareFile(path, header, data, options)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    if (compare) {
        return CompareWithSer2net(path, configDir.path().toStdString(), dataSize, recordLength,
                                  header);
    }

    std::unique_ptr<PtyBus> standInBus;
    std::unique_ptr<SimBus> simBus;
    if (standIn) {
        standInBus = std::make_unique<PtyBus>(kComPort);
        standInBus->SetWireBitRate(bitRate);
    } else {
        simBus = std::make_unique<SimBus>(kComPort);
    }
    const double cpuStart = ProcessCpuSeconds();
    const DownloadRun run = Download(path, rateIndex);
    const double processCpu = ProcessCpuSeconds() - cpuStart;

    int writes = 0;
    if (standIn) {
        writes = static_cast<int>(standInBus->Messages().size());
    } else {
        simBus->Finish();
        writes = simBus->Writes();
        simBus->Print(run.state != CTransferEngine::StateReady);
    }

    const DownloadFloor floor = FloorOf(dataSize, recordLength, block, header, bitRate);
    std::printf("%s, bit rate %d, %s timing, image %d bytes in %ld records of %d\n",
                standIn ? "stand-in bus" : "test bus", bitRate, block ? "block" : "record",
                run.imageLength, floor.records, recordLength);
    std::printf("%ld messages, %d writes; outcome state %d (0 = Ready), progress %d\n",
                floor.messages, writes, run.state, run.progress);
    std::printf("total %.2f s, floor %.2f s (wire %.2f s + pauses %.2f s), ratio %.3f\n",
                Seconds(run.totalNs), Seconds(floor.Ns()), Seconds(floor.wireNs),
                static_cast<double>(floor.pausesMs) / 1000.0,
                static_cast<double>(run.totalNs) / static_cast<double>(floor.Ns()));
    std::printf("worker CPU %.2f s (%.1f us per message); whole process CPU %.2f s incl. the "
                "bus\n",
                run.workerCpu, run.workerCpu * 1e6 / static_cast<double>(floor.messages),
                processCpu);
    return run.state == CTransferEngine::StateReady ? 0 : 1;
}
