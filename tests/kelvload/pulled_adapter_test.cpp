// The loader when its adapter is pulled and plugged in again, over the test bus: during a
// download and during discovery. The program keeps running throughout.
#include "tests/kelvload/app_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_bus.h"

#include "loader/kelvload_ids.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

#ifdef TRAKBUS_SIM_PATH
namespace {

using namespace kelvload;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string LinkOf(const std::string& path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

class PulledAdapter : public KelvloadAppTest {
protected:
    void TearDown() override {
        KelvloadAppTest::TearDown();
        m_sim.Terminate();
        m_sim.WaitForFinished(5000);
    }

    // Starts the test bus as COM<com>, pulled `hangupMs` after the loader opens the port and
    // back `returnMs` after that; remembers the first line's path.
    void StartBus(int com, std::vector<std::string> arguments, int hangupMs, int returnMs) {
        m_com = com;
        arguments.insert(arguments.end(),
                         {"--com", std::to_string(com), "--quiet", "--hangup-after",
                          std::to_string(hangupMs), "--return-after", std::to_string(returnMs)});
        ASSERT_TRUE(m_sim.Start(TRAKBUS_SIM_PATH, arguments));
        ASSERT_TRUE(RunEventsUntil([&] { return !LinkOf(PortEntryPath(com)).empty(); }, 5000));
        m_firstLine = LinkOf(PortEntryPath(com));
    }

    // The pulled line's device goes away with the hang-up.
    bool AwaitPull(int timeoutMs) {
        return RunEventsUntil([&] { return access(m_firstLine.c_str(), F_OK) != 0; }, timeoutMs);
    }
    // After the pull, COMn leads to a line again (which may reuse the pulled one's name).
    bool AwaitReturn(int timeoutMs) {
        return RunEventsUntil(
            [&] {
                const std::string now = LinkOf(PortEntryPath(m_com));
                return !now.empty() && access(now.c_str(), F_OK) == 0;
            },
            timeoutMs);
    }

    ChildProcess m_sim;
    int m_com = 0;
    std::string m_firstLine;
};

TEST_F(PulledAdapter, DuringADownloadTheRunFailsQuietlyAndSpaceThenDownloadsTheWholeFile) {
    const std::string file = WriteSampleKfw(Path("pulled.kfw"), 16 * 16, 16, 20);
    const QString imageOut = QString::fromStdString(Path("rebuilt.bin"));
    StartBus(16, {"--image-out", imageOut.toStdString()}, 300, 700);
    StartOn(16, {QString::fromStdString(file)});
    ASSERT_EQ(view->m_nState, CTransferEngine::StateReady);

    PressKey(Qt::Key_Space);
    ASSERT_TRUE(view->IsWorkerRunning());
    ASSERT_TRUE(AwaitPull(10000));
    QElapsedTimer sincePull;
    sincePull.start();
    ASSERT_TRUE(WaitForWorkerEnd(10000));
    const qint64 workerEndMs = sincePull.elapsed();
    std::printf("worker ended %lld ms after the pull\n", static_cast<long long>(workerEndMs));
    // Within the budget of one message's writes and echo waits, with a wide margin for a
    // loaded machine: a worker stuck in a wait would never end at all.
    EXPECT_LT(workerEndMs, 50 * 6 * 10);

    // Back to idle: no thread spins on the dead line.
    const double cpuBefore = ProcessCpuSeconds();
    RunEventsFor(1000);
    const double cpuSecond = ProcessCpuSeconds() - cpuBefore;
    std::printf("process CPU over one second after the pull: %.3f s\n", cpuSecond);
    EXPECT_LT(cpuSecond, 0.3);

    Tick();
    EXPECT_TRUE(view->m_nState == CTransferEngine::StateFailed ||
                view->m_nState == CTransferEngine::StatePortFailed)
        << view->m_nState;
    EXPECT_TRUE(view->m_lamp.text == "Programming Failed" || view->m_lamp.text == "COM Port Failed")
        << view->m_lamp.text.toStdString();
    EXPECT_TRUE(view->m_startStop.isEnabled());
    EXPECT_EQ(view->m_startStop.text(), "Start (Spacebar)");

    // Plugged in again: the same program downloads the whole file.
    ASSERT_TRUE(AwaitReturn(10000));
    PressKey(Qt::Key_Space);
    ASSERT_TRUE(WaitForWorkerEnd(30000));
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(view->m_lamp.text, "Ready");
    ASSERT_TRUE(RunEventsUntil([&] { return QFileInfo::exists(imageOut); }, 5000));
    QFile rebuilt(imageOut);
    ASSERT_TRUE(rebuilt.open(QIODevice::ReadOnly));
    const QByteArray bytes = rebuilt.readAll();
    const std::vector<std::uint8_t> data = CountingData(16 * 16);
    ASSERT_EQ(static_cast<size_t>(bytes.size()), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(),
                           reinterpret_cast<const std::uint8_t*>(bytes.constData())));
}

TEST_F(PulledAdapter, DuringDiscoveryTheWindowStaysAndDiscoverListsTheDevicesAgain) {
    StartBus(17,
             {"--device", "product=20,sw=0x0B,hw=2,boot=0x09,serial=0xFF", "--device",
              "product=21,sw=0x11,serial=0x10000"},
             400, 300);
    StartOn(17);
    view->OnFindDevices();
    QPointer<CDiscoverDlg> window = DiscoveryWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(RunEventsUntil([&] { return window->m_list.RowCount() == 2; }, 5000));

    ASSERT_TRUE(AwaitPull(10000));
    // The window lives through the pull and its buttons still answer.
    RunEventsFor(200);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QWidget* discover = window->GetDlgItem(IdcDiscover);
    ASSERT_NE(discover, nullptr);
    EXPECT_TRUE(discover->isEnabled());
    window->OnDiscover(); // on the dead line: nothing is listed, nothing breaks
    RunEventsFor(200);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->m_list.RowCount(), 0);

    ASSERT_TRUE(AwaitReturn(10000));
    window->OnDiscover();
    ASSERT_TRUE(RunEventsUntil([&] { return window->m_list.RowCount() == 2; }, 5000));
    EXPECT_EQ(window->m_list.GetCellText(0, 2), "FF");
    EXPECT_EQ(window->m_list.GetCellText(1, 2), "00010000");
}

} // namespace
#endif
