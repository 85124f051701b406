// A full firmware download through the test bus (or the tests' smaller
// stand-in) on a pty, both emulating the wire time of every byte. Prints the
// total time, its ratio to the floor (the wire time of every message plus the
// pauses that the download requires) and the CPU time of the worker thread.
//
//   download_bench [bit rate] [image KiB] [record length] [record|block] [sim|standin]

#include "loader/kfw_writer.h"
#include "loader/precise_delay.h"
#include "loader/transfer_engine.h"
#include "serial/serial_wnd.h"
#include "tests/support/pty_bus.h"
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

} // namespace

int main(int argc, char** argv) {
    const int bitRate = argc > 1 ? std::atoi(argv[1]) : 115200;
    const int imageKiB = argc > 2 ? std::atoi(argv[2]) : 200;
    const int recordLength = argc > 3 ? std::atoi(argv[3]) : 64;
    const bool block = argc > 4 && std::strcmp(argv[4], "block") == 0;
    const bool standIn = argc > 5 && std::strcmp(argv[5], "standin") == 0;
    int rateIndex = -1;
    for (int i = 0; i < kBitRateCount; ++i) {
        if (static_cast<int>(kBitRates[i]) == bitRate) {
            rateIndex = i;
        }
    }
    if (rateIndex < 0 || imageKiB <= 0 || recordLength < 1 || recordLength > 255) {
        std::fprintf(stderr, "usage: download_bench [bit rate] [image KiB] [record length 1..255] "
                             "[record|block] [sim|standin]\n");
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

    constexpr int kComPort = 31;
    std::unique_ptr<PtyBus> standInBus;
    std::unique_ptr<SimBus> simBus;
    if (standIn) {
        standInBus = std::make_unique<PtyBus>(kComPort);
        standInBus->SetWireBitRate(bitRate);
    } else {
        simBus = std::make_unique<SimBus>(kComPort);
    }
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

    std::string info;
    const double cpuStart = ProcessCpuSeconds();
    const std::int64_t start = MonotonicNowNs();
    if (engine.StartStop(path, info) != 1) {
        std::fprintf(stderr, "the file did not load\n");
        return 1;
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
    const std::int64_t total = MonotonicNowNs() - start;
    const double processCpu = ProcessCpuSeconds() - cpuStart;

    int writes = 0;
    if (standIn) {
        writes = static_cast<int>(standInBus->Messages().size());
    } else {
        simBus->Finish();
        writes = simBus->Writes();
        simBus->Print(engine.m_nState != CTransferEngine::StateReady);
    }

    // The floor: every message's 16 bytes on the wire, the pauses of the
    // timing scheme and the worker's closing sleep. The messages follow from
    // the file: the setup (twice with block timing), per record an address
    // and a data message for every eight bytes begun, and the end.
    const long records = (dataSize + recordLength - 1) / recordLength;
    const long fullRecords = dataSize / recordLength;
    const long lastLength = dataSize % recordLength;
    long messages = (block ? 2 : 1) + 1;
    std::int64_t pausesMs = 100 + 100; // after the setup, after the run
    long programmed = 0;
    for (long r = 0; r < records; ++r) {
        const long length = r < fullRecords ? recordLength : lastLength;
        messages += 1 + (length + 7) / 8;
        if (block) {
            pausesMs += 1;
            programmed += length;
            if (programmed >= header.progBlk) {
                programmed = 0;
                pausesMs += header.delay;
            }
        } else {
            pausesMs += 5;
        }
    }
    if (block) {
        pausesMs += 35 + (dataSize + 1023) / 1024 * header.eraseDly;
    }
    const std::int64_t wire = messages * 16LL * 10 * 1'000'000'000 / bitRate;
    const std::int64_t floor = wire + pausesMs * 1'000'000;

    std::printf("%s, bit rate %d, %s timing, image %d bytes in %ld records of %d\n",
                standIn ? "stand-in bus" : "test bus", bitRate, block ? "block" : "record",
                engine.m_nImageLength, records, recordLength);
    std::printf("%ld messages, %d writes; outcome state %d (0 = Ready), progress %d\n", messages,
                writes, engine.m_nState.load(), engine.m_nProgress.load());
    std::printf("total %.2f s, floor %.2f s (wire %.2f s + pauses %.2f s), ratio %.3f\n",
                Seconds(total), Seconds(floor), Seconds(wire), pausesMs / 1000.0,
                static_cast<double>(total) / static_cast<double>(floor));
    std::printf("worker CPU %.2f s (%.1f us per message); whole process CPU %.2f s incl. the "
                "bus\n",
                workerCpu.load(), workerCpu.load() * 1e6 / static_cast<double>(messages),
                processCpu);
    return engine.m_nState == CTransferEngine::StateReady ? 0 : 1;
}
