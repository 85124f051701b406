// The monitor when its adapter is pulled while it monitors and captures, over the test bus:
// the capture keeps every line, and the port comes back by itself unless the user chose in the
// port set-up meanwhile.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/file_chooser.h"
#include "serial/port_names.h"

#include <QProcess>
#include <unistd.h>

using namespace kelvmon;

namespace {

std::string LinkOf(const std::string& path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

struct PulledAdapter : KelvmonTest {
    ~PulledAdapter() override {
        m_app.reset();
        m_sim.terminate();
        m_sim.waitForFinished(5000);
    }

    // The test bus as COM7, sending a message every 40 ms, pulled 700 ms after the monitor opens
    // the port and back 1500 ms after that; the monitor started on it.
    void StartOnPulledBus() {
        m_sim.setProgram(TRAKBUS_SIM_PATH);
        m_sim.setArguments({"--com", "7", "--force", "--quiet", "--burst", "1,40", "--hangup-after",
                            "700", "--return-after", "1500"});
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start();
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        ASSERT_TRUE(WaitUntil([&] { return LinkOf(Entry()).starts_with("/dev/pts/"); }));
        m_firstLine = LinkOf(Entry());
        Store(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"),
              QStringLiteral("7"));
        Start();
        ASSERT_TRUE(View().IsPortOpen());
    }
    std::string Entry() const { return serial::PortDirectory() + "/COM7"; }
    bool Pulled() const { return access(m_firstLine.c_str(), F_OK) != 0; }
    // After the pull: COM7 leads to a line again (which may reuse the pulled one's name).
    bool Back() const {
        const std::string line = LinkOf(Entry());
        return !line.empty() && access(line.c_str(), F_OK) == 0;
    }
    std::string Captured() {
        std::string text;
        for (const std::string& line : Lines())
            text += line + "\r\n";
        return text;
    }

    QProcess m_sim;
    std::string m_firstLine;
};

TEST_F(PulledAdapter, CaptureKeepsEveryLineAndGoesOnIntoTheSameFileOnceThePortIsBack) {
    StartOnPulledBus();
    const QString path = TempPath(QStringLiteral("pulled.cap"));
    platform::SetFileChooserResponder(
        [path](const platform::FileChooserRequest&) { return std::optional<QString>(path); });
    Click(IdcSelectCapture);
    Click(IdcCaptureActive);
    ASSERT_TRUE(View().CaptureFileOpen());

    ASSERT_TRUE(WaitUntil([&] { return Pulled(); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return Text(IdcPortStatus) == "COM Port Closed"; }, 5000));
    const std::vector<std::string> before = Lines();
    EXPECT_GE(before.size(), 5u);
    // Everything shown before the pull is on the disk already, without a close.
    EXPECT_EQ(ReadFile(path), Captured());
    EXPECT_TRUE(m_boxes.empty());

    ASSERT_TRUE(WaitUntil([&] { return Text(IdcPortStatus) == "COM Port 7 Open"; }, 10000));
    EXPECT_TRUE(Back());
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() >= before.size() + 5; }, 10000));
    EXPECT_TRUE(View().CaptureFileOpen());
    View().OnTimer(TimerId); // flushed at the tick
    const std::string all = ReadFile(path);
    EXPECT_EQ(all, Captured());
    std::string first;
    for (const std::string& line : before)
        first += line + "\r\n";
    EXPECT_TRUE(all.starts_with(first)) << "the same file goes on";
}

TEST_F(PulledAdapter, APortChosenInThePortSetupWhileLostIsNotReopened) {
    StartOnPulledBus();
    ASSERT_TRUE(WaitUntil([&] { return Text(IdcPortStatus) == "COM Port Closed"; }, 10000));
    ASSERT_TRUE(Pulled());
    // The port set-up's OK while the adapter is out: close, then the chosen port, which fails.
    View().ClosePort();
    View().OpenPort();
    ASSERT_FALSE(View().IsPortOpen());
    ASSERT_TRUE(WaitUntil([&] { return Back(); }, 10000));
    Pump(2500); // more than two reopening periods
    EXPECT_FALSE(View().IsPortOpen());
    EXPECT_EQ(Text(IdcPortStatus), "COM Port Closed");
}

} // namespace
