// The monitor on ports on the network, through Debian's ser2net in front of the test bus: its
// lines and capture file are those of a direct capture of the same traffic, and ser2net stopped
// mid-capture closes the port, which comes back by itself once ser2net is there again.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/file_chooser.h"
#include "tests/sim/pty_sim.h"
#include "tests/support/ser2net_server.h"

#include <QStringList>

using namespace kelvmon;

namespace {

constexpr int kComPort = 5;
constexpr std::size_t kCompared = 40;

enum class Transport { Direct, Rfc2217, Raw };

SimConfig Traffic() {
    SimConfig config;
    config.traffic.loadPercent = 30;
    config.traffic.badPercent = 5;
    config.traffic.noisePercent = 5;
    config.traffic.seed = 7;
    return config;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

struct NetworkCapture : KelvmonTest {
    ~NetworkCapture() override { m_app.reset(); } // before the bus and ser2net go

    // Starts the monitor on COM5, reaching the test bus as `transport` says, and captures.
    void StartCapturing(Transport transport) {
        m_app.reset();
        m_server.reset();
        m_sim = std::make_unique<CSimThread>(Traffic());
        if (transport == Transport::Direct) {
            SetPort(kComPort, m_sim->Path());
        } else {
            const std::string rfc = transport == Transport::Rfc2217 ? m_sim->Path() : "/dev/null";
            const std::string raw = transport == Transport::Raw ? m_sim->Path() : "/dev/null";
            m_server = std::make_unique<Ser2netServer>(m_dir.path().toStdString(), rfc, raw);
            std::string error;
            ASSERT_TRUE(m_server->Start(error)) << error;
            ASSERT_TRUE(WriteNetworkPortEntry(kComPort, transport == Transport::Rfc2217
                                                            ? m_server->Rfc2217Url()
                                                            : m_server->RawUrl()));
        }
        Store(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"),
              QString::number(kComPort));
        m_capture = TempPath(QStringLiteral("capture-%1.cap").arg(static_cast<int>(transport)));
        platform::SetFileChooserResponder([path = m_capture](const platform::FileChooserRequest&) {
            return std::optional<QString>(path);
        });
        Start();
        Click(IdcSelectCapture);
        Click(IdcCaptureActive);
        ASSERT_TRUE(View().CaptureFileOpen());
    }

    // Waits for `count` more lines; then the capture file, flushed, holds the latest lines shown.
    std::vector<std::string> AwaitLines(std::size_t count) {
        EXPECT_TRUE(WaitUntil([&] { return Lines().size() >= count; }, 20000)) << Lines().size();
        View().OnTimer(TimerId); // the tick flushes the capture file
        const std::vector<std::string> shown = Lines();
        const std::vector<std::string> captured = SplitLines(ReadFile(m_capture));
        EXPECT_FALSE(captured.empty());
        EXPECT_LE(captured.size(), shown.size());
        if (captured.size() <= shown.size()) {
            EXPECT_TRUE(std::equal(captured.begin(), captured.end(),
                                   shown.end() - static_cast<std::ptrdiff_t>(captured.size())));
        }
        return shown;
    }

    std::unique_ptr<CSimThread> m_sim;
    std::unique_ptr<Ser2netServer> m_server;
    QString m_capture;
};

TEST_F(NetworkCapture, LinesAndCaptureMatchADirectCaptureOfTheSameTraffic) {
    StartCapturing(Transport::Direct);
    std::vector<std::string> direct = AwaitLines(kCompared);
    direct.resize(kCompared);
    for (const Transport transport : {Transport::Rfc2217, Transport::Raw}) {
        SCOPED_TRACE(static_cast<int>(transport));
        StartCapturing(transport);
        std::vector<std::string> lines = AwaitLines(kCompared);
        lines.resize(kCompared);
        EXPECT_EQ(lines, direct);
        EXPECT_TRUE(m_boxes.empty());
    }
}

TEST_F(NetworkCapture, Ser2netStoppedMidCaptureClosesThePortAndItComesBack) {
    StartCapturing(Transport::Rfc2217);
    const std::size_t before = AwaitLines(10).size();
    m_server->Stop();
    ASSERT_TRUE(WaitUntil([&] { return Text(IdcPortStatus) == "COM Port Closed"; }, 5000));
    std::string error;
    ASSERT_TRUE(m_server->Start(error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() >= before + 10; }, 10000));
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port %1 Open").arg(kComPort));
    EXPECT_TRUE(View().CaptureFileOpen());
    AwaitLines(before + 10); // the same file goes on with every line shown
    EXPECT_TRUE(m_boxes.empty());
}

} // namespace
