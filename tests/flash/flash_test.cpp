// trakbus-flash end to end: the program runs as its own process against the test bus on a
// pseudo-terminal, which checks every download against the KFW file. Versions are shown as the
// discovery window shows them (0x11 as "2.1").

#include "loader/kfw_writer.h"
#include "tests/sim/pty_sim.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"
#include "tools/sim/sim_options.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <numeric>
#include <thread>
#include <unistd.h>

namespace {

using simtest::Bytes;

struct FlashRun {
    int status = -1;
    QString out;
    QString err;
};

class FlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "flash_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        ASSERT_TRUE(m_dir.isValid());
        setenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit().constData(), 1);
    }

    std::string WriteKfw(int size, int delay) {
        kfw::FirmwareHeader header;
        header.product = 12;
        header.software = 0x21;
        header.delay = delay;
        Bytes data(static_cast<size_t>(size));
        std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(7));
        kfw::KfwWriteOptions options;
        options.recordLength = 32;
        const std::string path = m_dir.filePath("image.kfw").toStdString();
        EXPECT_TRUE(kfw::WriteFirmwareFile(path, header, data, options));
        return path;
    }

    SimConfig Expecting(const std::string& path) {
        SimConfig config;
        ExpectedFirmware firmware;
        std::string error;
        EXPECT_TRUE(LoadExpectedFirmware(path, firmware, error)) << error;
        config.expect = firmware;
        return config;
    }

    void Start(QProcess& process, const QStringList& arguments) {
        process.setProgram(QStringLiteral(TRAKBUS_FLASH_PATH));
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // What the program has written on stderr, read until it contains `text` or the program ends.
    static QByteArray ErrorsUntil(QProcess& process, const char* text) {
        QByteArray err;
        while (!err.contains(text) && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            err += process.readAllStandardError();
        }
        return err;
    }

    FlashRun Finish(QProcess& process) {
        EXPECT_TRUE(process.waitForFinished(120000));
        FlashRun run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    FlashRun Flash(const QStringList& arguments) {
        QProcess process;
        Start(process, arguments);
        return Finish(process);
    }

    QTemporaryDir m_dir;
};

// The test bus on a pseudo-terminal whose adapter can be pulled: the bus stops and the
// terminal's master side closes, as when a USB adapter leaves.
class PullableBus {
public:
    explicit PullableBus(SimConfig config) : m_config(std::move(config)) {
        std::string error;
        m_master = OpenPseudoTerminal(m_path, error);
        EXPECT_GE(m_master, 0) << error;
        EXPECT_EQ(pipe2(m_stop, O_CLOEXEC), 0);
        const LineSink discard = [](const std::string&) {};
        m_sim = std::make_unique<CBusSim>(m_config, discard, discard);
        m_thread = std::thread([this, discard] {
            LoopControl control;
            control.fd = m_stop[0];
            control.onReadable = [] { return false; };
            RunSimLoop(*m_sim, m_master, control, discard);
        });
    }
    ~PullableBus() {
        Pull();
        close(m_stop[0]);
        close(m_stop[1]);
    }
    PullableBus(const PullableBus&) = delete;
    PullableBus& operator=(const PullableBus&) = delete;

    void Pull() {
        if (m_thread.joinable()) {
            const char byte = 1;
            EXPECT_EQ(write(m_stop[1], &byte, 1), 1);
            m_thread.join();
        }
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }
    const std::string& Path() const { return m_path; }

private:
    SimConfig m_config;
    std::string m_path;
    int m_master = -1;
    int m_stop[2] = {-1, -1};
    std::unique_ptr<CBusSim> m_sim;
    std::thread m_thread;
};

// The per cent of every plain progress line, in order.
std::vector<int> ProgressSteps(const QString& err) {
    std::vector<int> steps;
    static const QRegularExpression line(
        QStringLiteral(
            "^trakbus-flash: (\\d+) %, (\\d+) of (\\d+) messages sent, \\d+:\\d\\d left$"),
        QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(err); it.hasNext();) {
        steps.push_back(it.next().captured(1).toInt());
    }
    return steps;
}

TEST_F(FlashTest, DownloadsTheFileAsTheBootLoaderExpectsWithALineEveryTenPerCent) {
    const std::string path = WriteKfw(1024, 4);
    simtest::PtySim bus(Expecting(path));
    const FlashRun run =
        Flash({QStringLiteral("--port"), QString::fromStdString(bus.Path()),
               QStringLiteral("--rate"), QStringLiteral("38400"), QString::fromStdString(path)});
    bus.Stop();
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("trakbus-flash: done\n"))) << run.err.toStdString();

    // One line for each tenth, rising, the last at 100 %.
    const std::vector<int> steps = ProgressSteps(run.err);
    ASSERT_GE(steps.size(), 9u) << run.err.toStdString();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_GE(steps[i], static_cast<int>(i + 1) * 10) << run.err.toStdString();
        if (i > 0) {
            EXPECT_GT(steps[i] / 10, steps[i - 1] / 10) << run.err.toStdString();
        }
    }
    EXPECT_EQ(steps.back(), 100);

    const auto& reports = bus.Sim().BootLoader().Reports();
    ASSERT_EQ(reports.size(), 1u) << bus.ReportText();
    EXPECT_TRUE(reports[0].Ok()) << bus.ReportText();
    EXPECT_TRUE(reports[0].complete);
    EXPECT_EQ(reports[0].bitRate, 38400);

    // --quiet: the same download without a word on stderr.
    simtest::PtySim quietBus(Expecting(path));
    const FlashRun quiet =
        Flash({QStringLiteral("--quiet"), QStringLiteral("--port"),
               QString::fromStdString(quietBus.Path()), QString::fromStdString(path)});
    quietBus.Stop();
    EXPECT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
    ASSERT_EQ(quietBus.Sim().BootLoader().Reports().size(), 1u);
    EXPECT_TRUE(quietBus.Sim().BootLoader().Reports()[0].complete);
}

TEST_F(FlashTest, DiscoverListsEveryDeviceOfTheBusAndIdentifyReachesTheOneNamed) {
    SimConfig config;
    std::string error;
    DeviceInfo first;
    DeviceInfo second;
    ASSERT_TRUE(ParseDeviceSpec("product=12,serial=0x019234,sw=0x11,hw=1,boot=0x09", first, error));
    ASSERT_TRUE(
        ParseDeviceSpec("product=12,serial=0x00A0B1,sw=0x23,hw=4,boot=0x12", second, error));
    config.devices = {first, second};
    simtest::PtySim bus(config);
    const QString port = QString::fromStdString(bus.Path());

    const FlashRun discover = Flash({QStringLiteral("--discover"), QStringLiteral("--port"), port,
                                     QStringLiteral("--wait"), QStringLiteral("500")});
    EXPECT_EQ(discover.status, 0) << discover.err.toStdString();
    const QStringList lines = discover.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << discover.out.toStdString();
    EXPECT_TRUE(
        lines[0].contains(QStringLiteral("serial 00019234  software 2.1  hardware 1  IPL 1.1")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("serial A0B1  software 4.3  hardware 4  IPL 2.2")))
        << lines[1].toStdString();

    const FlashRun identify =
        Flash({QStringLiteral("--identify"), QStringLiteral("A0B1"), QStringLiteral("--port"), port,
               QStringLiteral("--wait"), QStringLiteral("500")});
    EXPECT_EQ(identify.status, 0) << identify.err.toStdString();
    EXPECT_TRUE(bus.AwaitLog("serial 00A0B1: device 2 identifies itself", 5000))
        << bus.ReportText();

    const FlashRun nobody =
        Flash({QStringLiteral("--identify"), QStringLiteral("123456"), QStringLiteral("--port"),
               port, QStringLiteral("--wait"), QStringLiteral("300")});
    EXPECT_EQ(nobody.status, 1) << nobody.err.toStdString();
}

TEST_F(FlashTest, BadFilesMissingPortsAndBadOptionsEachHaveTheirStatus) {
    const std::string good = WriteKfw(256, 0);
    simtest::PtySim bus(Expecting(good));
    const QString port = QString::fromStdString(bus.Path());

    const QString broken = m_dir.filePath(QStringLiteral("broken.kfw"));
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Product: 12\r\n:10000000ZZ\r\n");
    }
    const FlashRun invalid = Flash({QStringLiteral("--port"), port, broken});
    EXPECT_EQ(invalid.status, 3) << invalid.err.toStdString();
    EXPECT_TRUE(invalid.err.contains(QStringLiteral("not a valid KFW file")));

    const FlashRun missing =
        Flash({QStringLiteral("--port"), m_dir.filePath(QStringLiteral("no-tty")),
               QString::fromStdString(good)});
    EXPECT_EQ(missing.status, 2) << missing.err.toStdString();
    const FlashRun missingCom =
        Flash({QStringLiteral("--port"), QStringLiteral("COM44"), QString::fromStdString(good)});
    EXPECT_EQ(missingCom.status, 2) << missingCom.err.toStdString();

    for (const QStringList& usage :
         {QStringList{},
          QStringList{QStringLiteral("--rate"), QStringLiteral("12345"),
                      QString::fromStdString(good)},
          QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("--discover"), QString::fromStdString(good)}}) {
        const FlashRun run = Flash(usage);
        EXPECT_EQ(run.status, 64) << usage.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("--help")));
    }
    const FlashRun help = Flash({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    for (const char* status : {"  0 ", "  1 ", "  2 ", "  3 ", "  64 "}) {
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(status))) << status;
    }

    bus.Stop();
    // None of these got as far as the bus.
    EXPECT_TRUE(bus.Sim().BootLoader().Reports().empty()) << bus.ReportText();
}

TEST_F(FlashTest, APortLostDuringTheDownloadIsAPortFailure) {
    const std::string path = WriteKfw(64 * 32, 20);
    PullableBus bus(Expecting(path));
    QProcess process;
    Start(process, {QStringLiteral("--port"), QString::fromStdString(bus.Path()),
                    QString::fromStdString(path)});
    const QByteArray err = ErrorsUntil(process, "10 %");
    ASSERT_EQ(process.state(), QProcess::Running) << err.toStdString();
    bus.Pull();
    const FlashRun run = Finish(process);
    EXPECT_EQ(run.status, 2) << err.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("was lost during the download")))
        << run.err.toStdString();
}

TEST_F(FlashTest, CtrlCStopsAtARecordBoundaryAndEndsTheDownload) {
    const std::string path = WriteKfw(64 * 32, 20); // 70 ms after every record
    simtest::PtySim bus(Expecting(path));
    QProcess process;
    Start(process, {QStringLiteral("--port"), QString::fromStdString(bus.Path()),
                    QString::fromStdString(path)});
    // Interrupted once the first tenth is through.
    const QByteArray err = ErrorsUntil(process, "10 %");
    ASSERT_EQ(process.state(), QProcess::Running) << err.toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    const FlashRun run = Finish(process);
    bus.Stop();
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("stopped"))) << run.err.toStdString();

    const auto& reports = bus.Sim().BootLoader().Reports();
    ASSERT_EQ(reports.size(), 1u) << bus.ReportText();
    EXPECT_TRUE(reports[0].stopped) << bus.ReportText();
    EXPECT_TRUE(reports[0].ended) << bus.ReportText();
    EXPECT_FALSE(reports[0].complete);
    EXPECT_TRUE(reports[0].violations.empty()) << bus.ReportText();
}

} // namespace
