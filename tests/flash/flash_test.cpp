// trakbus-flash end to end: the program runs as its own process against the test bus on a
// pseudo-terminal, which checks every download against the KFW file. Versions are shown as the
// discovery window shows them (0x11 as "2.1").

#include "loader/kfw_writer.h"
#include "tests/sim/pty_sim.h"
#include "tests/support/ser2net_server.h"
#include "tools/sim/pty_port.h"
#include "tools/sim/sim_loop.h"
#include "tools/sim/sim_options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.remove(QStringLiteral("TRAKBUS_PORT"));
        m_environment.remove(QStringLiteral("TRAKBUS_RATE"));
    }

    std::string WriteKfw(int size, int delay, const char* name = "image.kfw") {
        kfw::FirmwareHeader header;
        header.product = 12;
        header.software = 0x21;
        header.delay = delay;
        Bytes data(static_cast<size_t>(size));
        std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(7));
        kfw::KfwWriteOptions options;
        options.recordLength = 32;
        const std::string path = m_dir.filePath(QString::fromLatin1(name)).toStdString();
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

    void Start(QProcess& process, const QStringList& arguments,
               const QString& program = QStringLiteral(TRAKBUS_FLASH_PATH)) {
        process.setProcessEnvironment(m_environment);
        process.setProgram(program);
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

    FlashRun Flash(const QStringList& arguments,
                   const QString& program = QStringLiteral(TRAKBUS_FLASH_PATH)) {
        QProcess process;
        Start(process, arguments, program);
        return Finish(process);
    }

    // The JSON objects of stdout, one per line.
    static std::vector<QJsonObject> JsonLines(const QString& out) {
        std::vector<QJsonObject> objects;
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            EXPECT_TRUE(document.isObject()) << line.toStdString();
            objects.push_back(document.object());
        }
        return objects;
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
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
    CSimThread bus(Expecting(path));
    const QString port = QString::fromStdString(bus.Path());
    const FlashRun run = Flash({QStringLiteral("--port"), port, QStringLiteral("--rate"),
                                QStringLiteral("38400"), QString::fromStdString(path)});
    bus.Stop();
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    // The first line names the port and rate and where each came from.
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("trakbus-flash: port ") + port +
                                   QStringLiteral(" from --port, 38400 bit/s from --rate\n")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("trakbus-flash: done\n"))) << run.err.toStdString();

    // One line for each tenth, rising, the last at 100 % with every message sent.
    const std::vector<int> steps = ProgressSteps(run.err);
    ASSERT_GE(steps.size(), 9u) << run.err.toStdString();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_GE(steps[i], static_cast<int>(i + 1) * 10) << run.err.toStdString();
        if (i > 0) {
            EXPECT_GT(steps[i] / 10, steps[i - 1] / 10) << run.err.toStdString();
        }
    }
    EXPECT_EQ(steps.back(), 100);
    static const QRegularExpression last(
        QStringLiteral("100 %, (\\d+) of (\\d+) messages sent, 0:00 left\n"));
    const QRegularExpressionMatch match = last.match(run.err);
    ASSERT_TRUE(match.hasMatch()) << run.err.toStdString();
    EXPECT_EQ(match.captured(1), match.captured(2));

    const auto& reports = bus.Sim().BootLoader().Reports();
    ASSERT_EQ(reports.size(), 1u) << bus.ReportText();
    EXPECT_TRUE(reports[0].Ok()) << bus.ReportText();
    EXPECT_TRUE(reports[0].complete);
    EXPECT_EQ(reports[0].bitRate, 38400);
    EXPECT_EQ(match.captured(2).toInt(), reports[0].messages);

    // --quiet, with the port from TRAKBUS_PORT and the rate from TRAKBUS_RATE: the same
    // download without a word on stderr.
    const std::string small = WriteKfw(256, 0, "small.kfw");
    CSimThread quietBus(Expecting(small));
    m_environment.insert(QStringLiteral("TRAKBUS_PORT"), QString::fromStdString(quietBus.Path()));
    m_environment.insert(QStringLiteral("TRAKBUS_RATE"), QStringLiteral("57600"));
    const FlashRun quiet = Flash({QStringLiteral("--quiet"), QString::fromStdString(small)});
    quietBus.Stop();
    EXPECT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
    ASSERT_EQ(quietBus.Sim().BootLoader().Reports().size(), 1u);
    EXPECT_TRUE(quietBus.Sim().BootLoader().Reports()[0].complete);
    EXPECT_EQ(quietBus.Sim().BootLoader().Reports()[0].bitRate, 57600);
}

TEST_F(FlashTest, StopSignalsEndTheDownloadAtARecordBoundaryAndAClosedPipeStopsNothing) {
    const std::string path = WriteKfw(64 * 32, 20); // 70 ms after every record
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        CSimThread bus(Expecting(path));
        QProcess process;
        Start(process, {QStringLiteral("--port"), QString::fromStdString(bus.Path()),
                        QString::fromStdString(path)});
        // Signalled once the first tenth is through.
        const QByteArray err = ErrorsUntil(process, "10 %");
        ASSERT_EQ(process.state(), QProcess::Running) << err.toStdString();
        ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        const FlashRun run = Finish(process);
        bus.Stop();
        EXPECT_EQ(run.status, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("stopped at a record boundary")))
            << run.err.toStdString();

        const auto& reports = bus.Sim().BootLoader().Reports();
        ASSERT_EQ(reports.size(), 1u) << bus.ReportText();
        EXPECT_TRUE(reports[0].stopped) << bus.ReportText();
        EXPECT_TRUE(reports[0].ended) << bus.ReportText();
        EXPECT_FALSE(reports[0].complete);
        EXPECT_TRUE(reports[0].violations.empty()) << bus.ReportText();
    }

    // Progress into a pipe whose reader leaves after the first line: the download goes on.
    const std::string small = WriteKfw(512, 0, "small.kfw");
    CSimThread bus(Expecting(small));
    const FlashRun piped =
        Flash({QStringLiteral("-c"),
               QStringLiteral("\"$0\" \"$@\" 2>&1 | head -1 >/dev/null; exit ${PIPESTATUS[0]}"),
               QStringLiteral(TRAKBUS_FLASH_PATH), QStringLiteral("--port"),
               QString::fromStdString(bus.Path()), QString::fromStdString(small)},
              QStringLiteral("/bin/bash"));
    bus.Stop();
    EXPECT_EQ(piped.status, 0) << piped.err.toStdString();
    const auto& reports = bus.Sim().BootLoader().Reports();
    ASSERT_EQ(reports.size(), 1u) << bus.ReportText();
    EXPECT_TRUE(reports[0].Ok() && reports[0].complete) << bus.ReportText();
}

TEST_F(FlashTest, EveryFailureSaysWhyOnOneLineWithItsStatus) {
    const std::string good = WriteKfw(256, 0);
    CSimThread bus(Expecting(good));
    const QString port = QString::fromStdString(bus.Path());
    const auto write = [&](const char* name, const QByteArray& text) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    };
    const QString bad = write("bad.kfw", "Product: 12\r\n:040000000001020304F2\r\n:10000000ZZ\r\n");
    const QString noEnd = write("noend.kfw", "Product: 12\r\n:040000000001020304F2\r\n");
    struct Case {
        QStringList arguments;
        int status;
        QString says;
    };
    const std::vector<Case> cases = {
        {{bad}, 3, QStringLiteral("bad.kfw:3: not a valid KFW file: record")},
        {{noEnd}, 3, QStringLiteral("noend.kfw: not a valid KFW file: no end record")},
        {{m_dir.path()}, 3, QStringLiteral(": Is a directory")},
        {{m_dir.filePath(QStringLiteral("gone.kfw"))},
         3,
         QStringLiteral("gone.kfw: No such file or directory")},
        {{QStringLiteral("--port"), m_dir.filePath(QStringLiteral("no-tty")),
          QString::fromStdString(good)},
         2,
         QStringLiteral("no-tty is missing")},
        {{QStringLiteral("--port"), QStringLiteral("COM44"), QString::fromStdString(good)},
         2,
         QStringLiteral("port COM44 is missing")},
        {{QStringLiteral("--no-stored-settings"), QString::fromStdString(good)},
         64,
         QStringLiteral("no port given: use --port")},
        {{}, 64, QStringLiteral("no firmware file given")},
        {{QStringLiteral("--rate"), QStringLiteral("12345"), QString::fromStdString(good)},
         64,
         QStringLiteral("not one of the loader's bit rates")},
        {{QStringLiteral("--quiet=no"), QString::fromStdString(good)},
         64,
         QStringLiteral("--quiet takes no value")},
        {{QStringLiteral("--product"), QStringLiteral("12"), QString::fromStdString(good)},
         64,
         QStringLiteral("--product does not apply to a download")},
        // "08" is decimal 8, not a faulty octal number: the run gets as far as its port.
        {{QStringLiteral("--no-stored-settings"), QStringLiteral("--discover"),
          QStringLiteral("--product"), QStringLiteral("08")},
         64,
         QStringLiteral("no port given")},
        {{QStringLiteral("-")}, 64, QStringLiteral("standard input")},
        {{QStringLiteral("--bogus")}, 64, QStringLiteral("unknown option --bogus")},
        {{QStringLiteral("--discover"), QString::fromStdString(good)},
         64,
         QStringLiteral("does not go with --discover")},
    };
    for (const Case& c : cases) {
        QStringList arguments = c.arguments;
        if (!arguments.contains(QStringLiteral("--port")) && c.status != 64) {
            arguments.prepend(port);
            arguments.prepend(QStringLiteral("--port"));
        }
        const FlashRun run = Flash(arguments);
        const std::string what = arguments.join(' ').toStdString() + "\n" + run.err.toStdString();
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_TRUE(run.err.contains(c.says)) << what;
        // One line of reason, after the port line or before the pointer to --help.
        EXPECT_EQ(run.err.count('\n'), 2) << what;
    }
    // A file name that starts with '-' after "--".
    const FlashRun dashed = Flash(
        {QStringLiteral("--port"), port, QStringLiteral("--"), QStringLiteral("--weird.kfw")});
    EXPECT_EQ(dashed.status, 3) << dashed.err.toStdString();
    EXPECT_TRUE(dashed.err.contains(QStringLiteral("cannot read --weird.kfw")));

    const FlashRun help = Flash({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    for (const char* status : {"  0 ", "  1 ", "  2 ", "  3 ", "  64 ", "143"}) {
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(status))) << status;
    }
    bus.Stop();
    // None of these got as far as the bus.
    EXPECT_TRUE(bus.Sim().BootLoader().Reports().empty()) << bus.ReportText();

    // kelvload's stored port is used and named, unless --no-stored-settings; a bus that never
    // echoes is named as such, with the message that failed.
    SimConfig silent = Expecting(good);
    silent.faults.none = true;
    CSimThread silentBus(silent);
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("Kestrom/ports"))));
    ASSERT_TRUE(QFile::link(QString::fromStdString(silentBus.Path()),
                            m_dir.filePath(QStringLiteral("Kestrom/ports/COM7"))));
    write("Kestrom/kelvload.ini", "[Settings\\Ints]\nm_ActiveComPort=7\nm_BitRate=4\n");
    const FlashRun stored = Flash({QStringLiteral("-v"), QString::fromStdString(good)});
    EXPECT_EQ(stored.status, 1) << stored.err.toStdString();
    EXPECT_TRUE(stored.err.startsWith(
        QStringLiteral("trakbus-flash: port COM7 = ") + QString::fromStdString(silentBus.Path()) +
        QStringLiteral(" from kelvload's settings, 38400 bit/s from kelvload's settings\n")))
        << stored.err.toStdString();
    static const QRegularExpression noEcho(
        QStringLiteral("programming failed at message 0 of \\d+ \\(IplSetup\\): no echo from "
                       "the bus interface"));
    EXPECT_TRUE(noEcho.match(stored.err).hasMatch()) << stored.err.toStdString();
    // -v: every write of the message, with its time.
    static const QRegularExpression trace(
        QStringLiteral("^trakbus-flash: +\\d+\\.\\d{6} COM7 > #0 IplSetup write (\\d)$"),
        QRegularExpression::MultilineOption);
    int writes = 0;
    for (auto it = trace.globalMatch(stored.err); it.hasNext(); it.next()) {
        ++writes;
    }
    EXPECT_EQ(writes, 6) << stored.err.toStdString();
    const FlashRun ignored =
        Flash({QStringLiteral("--no-stored-settings"), QString::fromStdString(good)});
    EXPECT_EQ(ignored.status, 64) << ignored.err.toStdString();
}

TEST_F(FlashTest, DiscoverAndIdentifyTellOnlyWhatTheBusShowed) {
    SimConfig config;
    std::string error;
    DeviceInfo known;
    DeviceInfo unknown;
    ASSERT_TRUE(ParseDeviceSpec(
        "product=12,serial=0x019234,sw=0x11,hw=1,boot=0x09,product2=0x18,serial2=0x1234", known,
        error));
    ASSERT_TRUE(
        ParseDeviceSpec("product=201,serial=0x000005,sw=0x23,hw=4,boot=0x12", unknown, error));
    config.devices = {known, unknown};
    CSimThread bus(config);
    const QString port = QString::fromStdString(bus.Path());

    const FlashRun discover = Flash({QStringLiteral("--discover"), QStringLiteral("--port"), port,
                                     QStringLiteral("--wait"), QStringLiteral("500")});
    EXPECT_EQ(discover.status, 0) << discover.err.toStdString();
    const QStringList lines = discover.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << discover.out.toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("serial 019234  software 2.1  hardware ")) &&
                lines[0].endsWith(QStringLiteral("IPL 1.1  second serial 00001234")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(
        QStringLiteral("unknown product 201  serial 000005  software 4.3  hardware 4  IPL 2.2")))
        << lines[1].toStdString();

    const FlashRun json =
        Flash({QStringLiteral("--discover"), QStringLiteral("--json"), QStringLiteral("--port"),
               port, QStringLiteral("--wait"), QStringLiteral("500")});
    EXPECT_EQ(json.status, 0) << json.err.toStdString();
    const std::vector<QJsonObject> devices = JsonLines(json.out);
    ASSERT_EQ(devices.size(), 2u) << json.out.toStdString();
    EXPECT_EQ(devices[0][QStringLiteral("serial")].toString(), QStringLiteral("019234"));
    EXPECT_EQ(devices[0][QStringLiteral("product")].toInt(), 12);
    EXPECT_EQ(devices[0][QStringLiteral("secondSerial")].toString(), QStringLiteral("00001234"));
    EXPECT_TRUE(devices[1][QStringLiteral("name")].isNull());
    EXPECT_EQ(devices[1][QStringLiteral("product")].toInt(), 201);
    EXPECT_EQ(devices[1][QStringLiteral("software")].toString(), QStringLiteral("4.3"));

    const FlashRun identify =
        Flash({QStringLiteral("--identify"), QStringLiteral("5"), QStringLiteral("--port"), port,
               QStringLiteral("--wait"), QStringLiteral("500")});
    EXPECT_EQ(identify.status, 0) << identify.err.toStdString();
    EXPECT_TRUE(identify.err.contains(QStringLiteral("the device's own signal is the only proof")))
        << identify.err.toStdString();
    EXPECT_TRUE(bus.AwaitLog("serial 000005: device 2 identifies itself", 5000))
        << bus.ReportText();

    const FlashRun nobody =
        Flash({QStringLiteral("--identify"), QStringLiteral("123456"), QStringLiteral("--port"),
               port, QStringLiteral("--wait"), QStringLiteral("300")});
    EXPECT_EQ(nobody.status, 1) << nobody.err.toStdString();
    EXPECT_TRUE(nobody.err.contains(QStringLiteral("no device with serial number 123456")));

    // A bus interface that echoes nothing, and a bus with no device on it.
    SimConfig deaf = config;
    deaf.faults.none = true;
    CSimThread deafBus(deaf);
    const FlashRun unechoed = Flash(
        {QStringLiteral("--identify"), QStringLiteral("5"), QStringLiteral("--product"),
         QStringLiteral("201"), QStringLiteral("--port"), QString::fromStdString(deafBus.Path())});
    EXPECT_EQ(unechoed.status, 1) << unechoed.err.toStdString();
    EXPECT_TRUE(unechoed.err.contains(QStringLiteral("no echo from the bus interface")))
        << unechoed.err.toStdString();
    CSimThread emptyBus(SimConfig{});
    const FlashRun empty = Flash({QStringLiteral("--discover"), QStringLiteral("--port"),
                                  QString::fromStdString(emptyBus.Path()), QStringLiteral("--wait"),
                                  QStringLiteral("300")});
    EXPECT_EQ(empty.status, 1) << empty.err.toStdString();
    EXPECT_TRUE(empty.out.isEmpty());
    EXPECT_TRUE(empty.err.contains(QStringLiteral("no device answered")));
}

TEST_F(FlashTest, SeveralPortsAreFlashedAtOnceEachWithItsOwnOutcome) {
    const std::string path = WriteKfw(1024, 0);
    CSimThread first(Expecting(path));
    SimConfig deaf = Expecting(path);
    deaf.faults.busyAfterSetup = Ms(5000);
    CSimThread busy(deaf);
    CSimThread third(Expecting(path));
    const QString ports[] = {QString::fromStdString(first.Path()),
                             QString::fromStdString(busy.Path()),
                             QString::fromStdString(third.Path())};
    const FlashRun run = Flash({QStringLiteral("--json"), QStringLiteral("--port"), ports[0],
                                QStringLiteral("--port"), ports[1], QStringLiteral("--port"),
                                ports[2], QString::fromStdString(path)});
    first.Stop();
    busy.Stop();
    third.Stop();
    EXPECT_EQ(run.status, 1) << run.err.toStdString();

    // Each bus got the whole file, but the busy one.
    for (CSimThread* bus : {&first, &third}) {
        const auto& reports = bus->Sim().BootLoader().Reports();
        ASSERT_EQ(reports.size(), 1u) << bus->ReportText();
        EXPECT_TRUE(reports[0].Ok() && reports[0].complete) << bus->ReportText();
    }
    ASSERT_EQ(busy.Sim().BootLoader().Reports().size(), 1u) << busy.ReportText();
    EXPECT_FALSE(busy.Sim().BootLoader().Reports()[0].complete);

    // Per-port progress lines, then the summary table: one row per port.
    EXPECT_TRUE(run.err.contains(ports[2] + QStringLiteral(": 100 %"))) << run.err.toStdString();
    const qsizetype table = run.err.lastIndexOf(QStringLiteral("trakbus-flash: port "));
    ASSERT_GE(table, 0) << run.err.toStdString();
    const QStringList rows = run.err.mid(table).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4) << run.err.toStdString();
    EXPECT_TRUE(rows[2].contains(ports[1]) && rows[2].contains(QStringLiteral("failed")) &&
                rows[2].contains(QStringLiteral("device busy")))
        << rows[2].toStdString();

    // And the same outcomes as JSON, one object per port in the order given.
    const std::vector<QJsonObject> results = JsonLines(run.out);
    ASSERT_EQ(results.size(), 3u) << run.out.toStdString();
    for (int i = 0; i < 3; ++i) {
        const QJsonObject& result = results[static_cast<size_t>(i)];
        EXPECT_EQ(result[QStringLiteral("port")].toString(), ports[i]);
        EXPECT_EQ(result[QStringLiteral("rate")].toInt(), 16457);
        EXPECT_EQ(result[QStringLiteral("file")].toString(), QString::fromStdString(path));
        EXPECT_GT(result[QStringLiteral("duration")].toDouble(), 0.0);
        EXPECT_EQ(result[QStringLiteral("result")].toString(),
                  i == 1 ? QStringLiteral("failed") : QStringLiteral("done"));
        EXPECT_EQ(result[QStringLiteral("status")].toInt(), i == 1 ? 1 : 0);
    }
    EXPECT_EQ(results[0][QStringLiteral("messages")].toInt(),
              first.Sim().BootLoader().Reports()[0].messages);
    EXPECT_TRUE(
        results[1][QStringLiteral("reason")].toString().contains(QStringLiteral("at message 1 of")))
        << results[1][QStringLiteral("reason")].toString().toStdString();
}

TEST_F(FlashTest, APortLostDuringTheDownloadIsAPortFailure) {
    const std::string path = WriteKfw(64 * 32, 20);
    CSimThread bus(Expecting(path));
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

// A port on the network: --add-port makes COM9 the RFC 2217 port of ser2net in front of the
// test bus; --list-ports shows it without connecting; a download through it is checked by the
// bus, and --port takes the URL itself as well.
TEST_F(FlashTest, ANetworkPortIsAddedListedAndDownloadsThroughSer2net) {
    const std::string path = WriteKfw(4 * 32, 2);
    CSimThread bus(Expecting(path));
    Ser2netServer server(m_dir.path().toStdString(), bus.Path(), "/dev/null");
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const QString url = QString::fromStdString(server.Rfc2217Url());

    EXPECT_EQ(Flash({QStringLiteral("--add-port"), QStringLiteral("COM9"),
                     QStringLiteral("ftp://example")})
                  .status,
              64);
    FlashRun run = Flash({QStringLiteral("--add-port"), QStringLiteral("COM9"), url});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    run = Flash({QStringLiteral("--list-ports")});
    EXPECT_TRUE(run.out.contains(QStringLiteral("COM9  ") + url + QStringLiteral("  -  network")))
        << run.out.toStdString();
    EXPECT_FALSE(bus.LogHas("port opened")) << "listing connects to nothing";

    for (const QString& port : {QStringLiteral("COM9"), url}) {
        run = Flash({QStringLiteral("--port"), port, QStringLiteral("--rate"),
                     QStringLiteral("115200"), QString::fromStdString(path)});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
    }
    server.Stop();
    bus.Stop();
    const std::vector<DownloadReport>& reports = bus.Sim().BootLoader().Reports();
    ASSERT_EQ(reports.size(), 2u) << bus.ReportText();
    for (const DownloadReport& report : reports) {
        EXPECT_TRUE(report.Ok()) << bus.ReportText();
        EXPECT_EQ(report.bitRate, 115200);
    }
}

} // namespace
