// The loader's bus link and transfer engine downloading through Debian's ser2net (RFC 2217 on
// the loopback interface) to the test bus, whose boot loader checks every message against the
// expected image; and ser2net stopped in the middle of a download, then started again.

#include "loader/kfw_writer.h"
#include "loader/transfer_engine.h"
#include "serial/serial_wnd.h"
#include "tests/sim/core_events.h"
#include "tests/sim/pty_sim.h"
#include "tests/support/ser2net_server.h"
#include "tools/sim/sim_options.h"

using namespace simtest;

namespace {

constexpr int kComPort = 24;
constexpr int kIndex16457 = 2;
constexpr int kIndex115200 = 7;

class LoaderThroughSer2netTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Valid());
        m_dir.UseAsConfigHome();
        TestApp();
        m_doc.m_ActiveComPort = kComPort;
        m_notify.MapMessage(
            CSerialWnd::defaultComMessage,
            [this](platform::WParam w, platform::LParam) { m_doc.HandleSerialEvent(w); });
    }

    // The test bus expecting the image at `path`, behind ser2net, as COM24.
    void StartBus(const std::string& path) {
        SimConfig config;
        ExpectedFirmware firmware;
        std::string error;
        ASSERT_TRUE(LoadExpectedFirmware(path, firmware, error)) << error;
        config.expect = firmware;
        config.verbose = true; // a log line per message tells how far a download has come
        m_bus = std::make_unique<CSimThread>(config);
        m_server = std::make_unique<Ser2netServer>(m_dir.Path(), m_bus->Path(), "/dev/null");
        ASSERT_TRUE(m_server->Start(error)) << error;
        ASSERT_TRUE(WriteNetworkPortEntry(kComPort, m_server->Rfc2217Url()));
    }

    // An image of `size` bytes, every one 0xFF, the Telnet escape.
    std::string WriteImage(int size) {
        kfw::FirmwareHeader header;
        header.product = 12;
        header.lastAddress = 0x10000;
        const std::string path = m_dir.File("iac.kfw");
        kfw::KfwWriteOptions options;
        options.recordLength = 16;
        EXPECT_TRUE(kfw::WriteFirmwareFile(path, header,
                                           Bytes(static_cast<std::size_t>(size), 0xFF), options));
        return path;
    }

    void StartDownload(CTransferEngine& engine, const std::string& path) {
        std::string info;
        ASSERT_EQ(engine.StartStop(path, info), 1);
    }

    int FinishDownload(CTransferEngine& engine) {
        EXPECT_TRUE(RunEventsUntil([&] { return !engine.IsWorkerRunning(); }, 60000));
        return engine.m_nState;
    }

    TempDir m_dir;
    platform::WindowMessageReceiver m_notify;
    CKelvloadDoc m_doc;
    std::unique_ptr<CSimThread> m_bus;
    std::unique_ptr<Ser2netServer> m_server;
};

} // namespace

// At both rates the boot loader takes every message as the image has it, and ser2net's line
// runs at the rate chosen in the loader.
TEST_F(LoaderThroughSer2netTest, DownloadsOfAnImageFullOfIacPassAtEitherRate) {
    const std::string path = WriteImage(64);
    for (const int index : {kIndex115200, kIndex16457}) {
        SCOPED_TRACE(kBitRates[index]);
        StartBus(path);
        m_doc.m_BitRate = index;
        CTransferEngine engine(&m_doc, &m_notify);
        StartDownload(engine, path);
        EXPECT_EQ(FinishDownload(engine), CTransferEngine::StateReady);
        m_server->Stop();
        m_bus->Stop();
        ASSERT_EQ(m_bus->Sim().BootLoader().Reports().size(), 1u) << m_bus->ReportText();
        const DownloadReport& report = m_bus->Sim().BootLoader().Reports()[0];
        EXPECT_TRUE(report.Ok()) << m_bus->ReportText();
        EXPECT_EQ(report.bitRate, static_cast<int>(kBitRates[index]));
    }
}

// ser2net going away mid-download fails the download ("Programming Failed"); once it is back,
// the next download goes through the same port entry.
TEST_F(LoaderThroughSer2netTest, Ser2netStoppedMidDownloadFailsItAndTheNextOneSucceeds) {
    const std::string path = WriteImage(2048);
    StartBus(path);
    m_doc.m_BitRate = kIndex115200;
    {
        CTransferEngine engine(&m_doc, &m_notify);
        StartDownload(engine, path);
        ASSERT_TRUE(RunEventsUntil([&] { return m_bus->LogHas("rx 40:"); }, 20000))
            << m_bus->ReportText();
        m_server->Stop();
        EXPECT_EQ(FinishDownload(engine), CTransferEngine::StateFailed);
    }
    std::string error;
    ASSERT_TRUE(m_server->Start(error)) << error;
    CTransferEngine engine(&m_doc, &m_notify);
    StartDownload(engine, path);
    EXPECT_EQ(FinishDownload(engine), CTransferEngine::StateReady);
    m_server->Stop();
    m_bus->Stop();
    const std::vector<DownloadReport>& reports = m_bus->Sim().BootLoader().Reports();
    ASSERT_FALSE(reports.empty()) << m_bus->ReportText();
    EXPECT_TRUE(reports.back().Ok()) << m_bus->ReportText();
}
