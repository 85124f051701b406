#include "tests/kelvload/app_fixture.h"
#include "tests/serial/plain_holder.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_bus.h"

#include "busproto/messages.h"
#include "loader/kelvload_ids.h"
#include "platform/gui/termination_signals.h"
#include "serial/port_lock.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStatusBar>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace kelvload;

constexpr int kBusPort = 11;

struct IplSeen {
    std::uint8_t kind = 0xFF;
    std::array<std::uint8_t, 8> data{};
};

std::vector<IplSeen> IplMessages(const std::vector<Bytes>& messages) {
    std::vector<IplSeen> seen;
    for (const Bytes& m : messages) {
        IplSeen ipl;
        if (DecodeIplMessage(m.data(), static_cast<int>(m.size()), &ipl.kind, ipl.data.data())) {
            seen.push_back(ipl);
        }
    }
    return seen;
}

// The image as the device rebuilds it: the data messages after each address, placed there.
// The sample files' records are whole multiples of eight bytes, so every data byte counts. Their
// data counts up, so a message equal to the one before it is a write repeated because its echo
// came late (a slow machine), and is taken once.
std::map<std::uint32_t, std::uint8_t> RebuiltImage(const std::vector<IplSeen>& messages) {
    std::map<std::uint32_t, std::uint8_t> image;
    std::uint32_t address = 0;
    const IplSeen* previous = nullptr;
    for (const IplSeen& m : messages) {
        const bool repeat =
            previous != nullptr && previous->kind == m.kind && previous->data == m.data;
        previous = &m;
        if (repeat) {
            continue;
        }
        if (m.kind == IplAddress) {
            address =
                (std::uint32_t{m.data[0]} << 16) | (std::uint32_t{m.data[1]} << 8) | m.data[2];
        } else if (m.kind == IplData) {
            for (std::uint8_t b : m.data) {
                image[address++] = b;
            }
        }
    }
    return image;
}

std::map<std::uint32_t, std::uint8_t> Expected(const std::vector<std::uint8_t>& data) {
    std::map<std::uint32_t, std::uint8_t> image;
    for (size_t i = 0; i < data.size(); ++i) {
        image[static_cast<std::uint32_t>(i)] = data[i];
    }
    return image;
}

class Download : public KelvloadAppTest {
protected:
    void TearDown() override {
        KelvloadAppTest::TearDown();
        bus.reset();
    }

    // A file of `records` 16-byte records whose pauses make each record take about 110 ms.
    void StartReady(int records, int delay) {
        bus = std::make_unique<PtyBus>(kBusPort);
        file = WriteSampleKfw(Path("image.kfw"), records * 16, 16, delay);
        StartOn(kBusPort, {QString::fromStdString(file)});
        ASSERT_EQ(view->m_nState, CTransferEngine::StateReady);
    }

    std::unique_ptr<PtyBus> bus;
    std::string file;
};

TEST_F(Download, SpaceSendsTheImageAndTheViewFollowsTheRunToReady) {
    PtyBus other(12);
    StartReady(20, 40);
    int chooserCalls = 0;
    platform::SetFileChooserResponder([&](const platform::FileChooserRequest&) {
        ++chooserCalls;
        return std::optional<QString>();
    });

    PressKey(Qt::Key_Space);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateProgramming);
    EXPECT_EQ(view->m_lamp.rangeHigh, static_cast<std::uint32_t>(view->m_nImageLength));
    Tick();
    EXPECT_EQ(view->m_startStop.text(), "Stop (Spacebar)");
    EXPECT_EQ(view->m_startStop.faceColor, 0x00FFFFu);
    EXPECT_EQ(view->m_lamp.text, "Programming");
    EXPECT_EQ(view->m_lamp.lampColor, 0x00FFFFu);
    EXPECT_FALSE(view->GetDlgItem(IdcSelectFile)->isEnabled());
    EXPECT_FALSE(view->GetDlgItem(IdcFindDevices)->isEnabled());

    // Busy: no file is chosen, no discovery window opens, a new port waits for the end.
    view->OnSelectFile();
    EXPECT_EQ(chooserCalls, 0);
    view->OnFindDevices();
    EXPECT_EQ(doc->m_pDiscoverDlg, nullptr);
    view->m_portList.setCurrentIndex(view->m_portList.findText("COM12"));
    emit view->m_portList.activated(view->m_portList.currentIndex());
    EXPECT_EQ(doc->m_ActiveComPort, kBusPort);

    // The display timer moves the lamp while the run goes on, and the status bar tells the
    // per cent, the messages sent and the time left.
    std::vector<std::uint32_t> positions;
    QStringList progressTexts;
    ASSERT_TRUE(RunEventsUntil(
        [&] {
            if (view->m_nState == CTransferEngine::StateProgramming &&
                (positions.empty() || positions.back() != view->m_lamp.position)) {
                positions.push_back(view->m_lamp.position);
            }
            const QString text = frame->statusBar()->currentMessage();
            if (!text.isEmpty() && (progressTexts.isEmpty() || progressTexts.back() != text)) {
                progressTexts.push_back(text);
            }
            return !view->IsWorkerRunning();
        },
        20000));
    EXPECT_GE(positions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_GT(positions.back(), 0u);
    // 20 records of two data messages, with set-up and end: 62 messages.
    const QRegularExpression progress(
        QStringLiteral("^(\\d+) %, (\\d+) of 62 messages sent, (\\d+):(\\d\\d) left$"));
    ASSERT_GE(progressTexts.size(), 2) << progressTexts.join('|').toStdString();
    int lastPercent = -1;
    for (const QString& text : progressTexts) {
        const QRegularExpressionMatch match = progress.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        EXPECT_GE(match.captured(1).toInt(), lastPercent);
        lastPercent = match.captured(1).toInt();
    }
    EXPECT_GT(lastPercent, 0);

    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(view->m_lamp.text, "Ready");
    EXPECT_TRUE(frame->statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(view->m_startStop.text(), "Start (Spacebar)");
    EXPECT_TRUE(view->m_startStop.isEnabled());
    EXPECT_TRUE(view->GetDlgItem(IdcSelectFile)->isEnabled());
    EXPECT_EQ(doc->m_ActiveComPort, 12); // the choice made during the run, now in force
    EXPECT_FALSE(doc->IsPortOpen());

    const std::vector<IplSeen> ipl = IplMessages(bus->MessageBytes());
    ASSERT_GE(ipl.size(), 3u);
    EXPECT_EQ(ipl.front().kind, IplSetup);
    EXPECT_EQ(ipl.front().data[1], 20); // product
    EXPECT_EQ(ipl.back().kind, IplEnd);
    EXPECT_EQ(RebuiltImage(ipl), Expected(CountingData(20 * 16)));
    EXPECT_TRUE(other.Messages().empty());
}

TEST_F(Download, SpaceDuringARunStopsItAfterTheRecordWithAnEndMessage) {
    StartReady(40, 40);
    PressKey(Qt::Key_Space);
    // The echoes are handled by this thread's events: wait while handling them.
    ASSERT_TRUE(RunEventsUntil([&] { return bus->Messages().size() >= 5; }, 5000));
    RunEventsFor(30);
    PressKey(Qt::Key_Space);
    EXPECT_EQ(view->m_bBusy, 0);
    ASSERT_TRUE(WaitForWorkerEnd());
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateFailed);
    EXPECT_EQ(view->m_lamp.text, "Programming Failed");
    EXPECT_EQ(view->m_lamp.lampColor, 0x00FFFFu);
    EXPECT_EQ(view->m_startStop.faceColor, 0x00FF00u);

    const std::vector<IplSeen> ipl = IplMessages(bus->MessageBytes());
    ASSERT_GE(ipl.size(), 4u);
    EXPECT_EQ(ipl[1].kind, IplAddress); // the setup was confirmed at the first write
    EXPECT_EQ(ipl.back().kind, IplEnd);
    // The record under way was finished: its address and both of its data messages.
    ASSERT_EQ(ipl[ipl.size() - 2].kind, IplData);
    ASSERT_EQ(ipl[ipl.size() - 3].kind, IplData);
    ASSERT_EQ(ipl[ipl.size() - 4].kind, IplAddress);
    EXPECT_LT(ipl.size(), 2u + 40u * 3u); // it did not run to the end
}

TEST_F(Download, ClosingDuringARunWaitsForTheWorkerAndSigtermCloses) {
    StartReady(40, 40);
    platform::CloseOnTerminationSignals(frame);
    PressKey(Qt::Key_Space);
    // The echoes are handled by this thread's events: wait while handling them.
    ASSERT_TRUE(RunEventsUntil([&] { return bus->Messages().size() >= 5; }, 5000));
    // As a logout or `systemctl stop` asks it: the program ends as closing its window does.
    raise(SIGTERM);
    ASSERT_TRUE(RunEventsUntil([&] { return frame == nullptr; }, 10000));
    ASSERT_EQ(view, nullptr);
    EXPECT_NE(access(serial::LockFilePath(bus->SlavePath()).c_str(), F_OK), 0);
    // The run ended the way a stop ends it, before the view went.
    const std::vector<IplSeen> ipl = IplMessages(bus->MessageBytes());
    ASSERT_GE(ipl.size(), 4u);
    EXPECT_EQ(ipl.back().kind, IplEnd);
    EXPECT_EQ(ipl[ipl.size() - 2].kind, IplData);
    EXPECT_EQ(ipl[1].kind, IplAddress); // the setup was confirmed at the first write
    const size_t count = bus->Messages().size();
    RunEventsFor(300);
    EXPECT_EQ(bus->Messages().size(), count);
    EXPECT_EQ(StoredSetting("Settings\\Strings", "m_SrcPath"), QString::fromStdString(file));
}

TEST_F(Download, AMissingPortGivesComPortFailed) {
    const std::string good = WriteSampleKfw(Path("noport.kfw"), 32);
    StartOn(33, {QString::fromStdString(good)});
    PressKey(Qt::Key_Space);
    ASSERT_TRUE(WaitForWorkerEnd());
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StatePortFailed);
    EXPECT_EQ(view->m_lamp.text, "COM Port Failed");
    EXPECT_TRUE(view->m_startStop.isEnabled());
}

TEST_F(Download, APortHeldByAnotherProgramFailsAndItsTooltipSaysWhy) {
    PtyBus com1(1);
    const std::string good = WriteSampleKfw(Path("held.kfw"), 32);
    StartOn(1, {QString::fromStdString(good)});
    ASSERT_EQ(view->m_portList.currentText(), "COM1");
    // A terminal program takes the port with a plain open after the list was made.
    PlainHolder holder(com1.SlavePath());
    ASSERT_TRUE(holder.Holding());

    PressKey(Qt::Key_Space);
    ASSERT_TRUE(WaitForWorkerEnd());
    Tick();
    EXPECT_EQ(view->m_lamp.text, "COM Port Failed");
    EXPECT_TRUE(com1.Messages().empty());
    const std::string expected =
        com1.SlavePath() + "\n" +
        serial::RefusalText({.error = EBUSY, .holder = holder.Pid(), .lock = {}, .lockFile = {}});
    EXPECT_NE(expected.find("process " + std::to_string(holder.Pid())), std::string::npos);
    EXPECT_EQ(view->m_portList.toolTip().toStdString(), expected);
    EXPECT_EQ(view->m_portList.currentData(Qt::ToolTipRole).toString().toStdString(), expected);
}

#ifdef TRAKBUS_SIM_PATH
// The whole program against the test bus: its boot loader checks the message order, the
// payloads and the pauses, and rebuilds the image.
TEST_F(Download, TheTestBusRebuildsTheFilesImage) {
    const int com = 13;
    file = WriteSampleKfw(Path("sim.kfw"), 12 * 16, 16, 5);
    const QString imageOut = QString::fromStdString(Path("rebuilt.bin"));
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(TRAKBUS_SIM_PATH, {"--com", std::to_string(com), "--quiet", "--expect",
                                             file, "--image-out", imageOut.toStdString()}));
    ASSERT_TRUE(RunEventsUntil(
        [&] { return QFileInfo::exists(QString::fromStdString(PortEntryPath(com))); }, 5000));
    StartOn(com, {QString::fromStdString(file)});
    ASSERT_EQ(view->m_nState, CTransferEngine::StateReady);
    PressKey(Qt::Key_Space);
    ASSERT_TRUE(WaitForWorkerEnd(20000));
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    ASSERT_TRUE(RunEventsUntil([&] { return QFileInfo::exists(imageOut); }, 5000));
    Quit();
    sim.Terminate();
    ASSERT_TRUE(sim.WaitForFinished(5000));
    EXPECT_EQ(sim.ExitCode(), 0);

    QFile rebuilt(imageOut);
    ASSERT_TRUE(rebuilt.open(QIODevice::ReadOnly));
    const QByteArray bytes = rebuilt.readAll();
    const std::vector<std::uint8_t> data = CountingData(12 * 16);
    ASSERT_EQ(static_cast<size_t>(bytes.size()), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(),
                           reinterpret_cast<const std::uint8_t*>(bytes.constData())));
}

// The echoes are recognised where the bytes arrive: a window's thread blocked for two seconds in
// mid-run holds the download up in nothing, and the test bus finds it correct.
TEST_F(Download, ADownloadGoesOnWhileTheWindowsThreadIsBlocked) {
    const int com = 15;
    file = WriteSampleKfw(Path("busy.kfw"), 30 * 16, 16, 5);
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(TRAKBUS_SIM_PATH, {"--com", std::to_string(com), "--quiet",
                                             "--wire-queue", "--expect", file}));
    ASSERT_TRUE(RunEventsUntil(
        [&] { return QFileInfo::exists(QString::fromStdString(PortEntryPath(com))); }, 5000));
    StartOn(com, {QString::fromStdString(file)});
    ASSERT_EQ(view->m_nState, CTransferEngine::StateReady);
    PressKey(Qt::Key_Space);
    ASSERT_TRUE(RunEventsUntil([&] { return view->m_nProgress > 0; }, 5000));

    int before = 0;
    int after = 0;
    QMetaObject::invokeMethod(
        view,
        [&] {
            before = view->m_nProgress;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            after = view->m_nProgress;
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(WaitForWorkerEnd(20000));
    EXPECT_GT(after, before) << "the download stood still while the window's thread was busy";
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(view->m_lamp.text, "Ready");
    Quit();
    sim.Terminate();
    ASSERT_TRUE(sim.WaitForFinished(5000));
    EXPECT_EQ(sim.ExitCode(), 0) << "the test bus found the download wrong";
}

TEST_F(Download, TheTestBusDevicesAppearInTheDiscoveryWindow) {
    const int com = 14;
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(TRAKBUS_SIM_PATH,
                          {"--com", std::to_string(com), "--quiet", "--device",
                           "product=20,sw=0x0B,hw=2,boot=0x09,serial=0xFF", "--device",
                           "product=21,product2=0x18,sw=0x11,serial=0x10000,serial2=0x01020304",
                           "--ping-every", "200", "--rssi", "0x21,0x9A"}));
    ASSERT_TRUE(RunEventsUntil(
        [&] { return QFileInfo::exists(QString::fromStdString(PortEntryPath(com))); }, 5000));
    StartOn(com);
    view->OnFindDevices();
    CDiscoverDlg* window = DiscoveryWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(RunEventsUntil([&] { return window->m_list.RowCount() == 2; }, 5000));
    EXPECT_EQ(window->m_list.GetCellText(0, 2), "FF");
    EXPECT_EQ(window->m_list.GetCellText(0, 3), "1.3");
    EXPECT_EQ(window->m_list.GetCellText(0, 4), "2");
    EXPECT_EQ(window->m_list.GetCellText(1, 2), "00010000");
    EXPECT_EQ(window->m_list.GetCellText(1, 6), "01020304");
    auto* line = qobject_cast<QLabel*>(window->GetDlgItem(IdcRssi));
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(RunEventsUntil([&] { return !line->text().isEmpty(); }, 5000));
    EXPECT_EQ(line->text(), "Local RSSI = 21  Remote RSSI = 9A");
    Quit();
    sim.Terminate();
    EXPECT_TRUE(sim.WaitForFinished(5000));
}
#endif

} // namespace
