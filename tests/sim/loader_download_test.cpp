// The loader's own bus link and transfer engine against the test bus, over a real
// pseudo-terminal named as a COM port: downloads that the boot loader accepts or rejects, echo
// faults the loader rides out, and discovery replies that reach the loader's window.

#include "loader/kfw_writer.h"
#include "loader/transfer_engine.h"
#include "serial/serial_wnd.h"
#include "tests/sim/core_events.h"
#include "tests/sim/pty_sim.h"
#include "tools/sim/sim_options.h"

#include <fstream>
#include <iterator>
#include <numeric>

using namespace simtest;

namespace {

class CollectingSink : public CDiscoverySink {
public:
    void ShowRssi(const std::uint8_t* message) override {
        pings.emplace_back(message, message + 20);
    }
    void AddDiscoveryReply(const std::uint8_t* message) override {
        replies.emplace_back(message, message + 20);
    }
    std::vector<Bytes> pings;
    std::vector<Bytes> replies;
};

class LoaderOnSimTest : public ::testing::Test {
protected:
    static constexpr int kComPort = 23;

    void SetUp() override {
        ASSERT_TRUE(m_dir.Valid());
        m_dir.UseAsConfigHome();
        TestApp();
        m_doc.m_ActiveComPort = kComPort;
        m_doc.m_BitRate = 2; // 16457 bit/s
        m_notify.MapMessage(
            CSerialWnd::defaultComMessage,
            [this](platform::WParam w, platform::LParam) { m_doc.HandleSerialEvent(w); });
    }

    // Starts the test bus as COM23.
    void StartBus(SimConfig config) {
        m_bus = std::make_unique<CSimThread>(std::move(config));
        std::string error;
        ASSERT_TRUE(m_entry.Create(kComPort, m_bus->Path(), false, error)) << error;
    }

    std::string WriteKfw(const std::string& name, const kfw::FirmwareHeader& header,
                         const Bytes& data, int recordLength, std::uint32_t start) {
        const std::string path = m_dir.File(name);
        kfw::KfwWriteOptions options;
        options.recordLength = recordLength;
        options.startAddress = start;
        EXPECT_TRUE(kfw::WriteFirmwareFile(path, header, data, options));
        return path;
    }

    static ExpectedFirmware Expect(const std::string& path) {
        ExpectedFirmware firmware;
        std::string error;
        EXPECT_TRUE(LoadExpectedFirmware(path, firmware, error)) << error;
        return firmware;
    }

    // Runs one download with the loader's engine; returns its display state.
    int Download(const std::string& path) {
        CTransferEngine engine(&m_doc, &m_notify);
        std::string info;
        EXPECT_EQ(engine.StartStop(path, info), 1);
        EXPECT_TRUE(RunEventsUntil([&] { return !engine.IsWorkerRunning(); }, 60000));
        return engine.m_nState;
    }

    TempDir m_dir;
    platform::WindowMessageReceiver m_notify;
    CKelvloadDoc m_doc;
    std::unique_ptr<CSimThread> m_bus;
    CPortEntry m_entry;
};

Bytes Counting(int size, int first) {
    Bytes data(static_cast<std::size_t>(size));
    std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(first));
    return data;
}

} // namespace

TEST_F(LoaderOnSimTest, RecordTimingDownloadIsAcceptedAndRebuilt) {
    kfw::FirmwareHeader header;
    header.product = 12;
    header.hardware = 1;
    header.software = 0x11;
    header.lastAddress = 0x2000;
    header.delay = 2;
    const Bytes data = Counting(60, 0x40); // records of 16, 16, 16 and 12 bytes
    const std::string path = WriteKfw("record.kfw", header, data, 16, 0x004000);
    SimConfig config;
    config.expect = Expect(path);
    config.imageOut = m_dir.File("rebuilt.bin");
    StartBus(config);

    EXPECT_EQ(Download(path), CTransferEngine::StateReady);
    m_bus->Stop();
    ASSERT_EQ(m_bus->Sim().BootLoader().Reports().size(), 1u) << m_bus->ReportText();
    const DownloadReport& r = m_bus->Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << m_bus->ReportText();
    EXPECT_EQ(r.bitRate, 16457);
    EXPECT_EQ(r.messages, 1 + 4 + 8 + 1);
    for (const auto& [kind, stat] : r.pauses)
        EXPECT_GE(stat.shortestSlack, 0) << kind;

    std::ifstream in(config.imageOut, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), data);
}

TEST_F(LoaderOnSimTest, BlockTimingDownloadRidesOutLostEchoes) {
    kfw::FirmwareHeader header;
    header.product = 0x9C;
    header.options = 2;
    header.lastAddress = 2048;
    header.eraseDly = 5;
    header.progBlk = 32;
    header.delay = 3;
    const Bytes data = Counting(80, 0xC0);
    const std::string path = WriteKfw("block.kfw", header, data, 16, 0x000800);
    SimConfig config;
    config.expect = Expect(path);
    config.faults.dropEvery = 4; // the loader writes those messages again
    StartBus(config);

    EXPECT_EQ(Download(path), CTransferEngine::StateReady);
    m_bus->Stop();
    ASSERT_EQ(m_bus->Sim().BootLoader().Reports().size(), 1u) << m_bus->ReportText();
    const DownloadReport& r = m_bus->Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << m_bus->ReportText();
    EXPECT_GT(r.writes, r.messages);
    EXPECT_EQ(r.pauses.count("after setup and erase"), 1u);
    EXPECT_EQ(r.pauses.count("program block"), 1u);
}

TEST_F(LoaderOnSimTest, ADownloadOfTheWrongFileIsRejected) {
    kfw::FirmwareHeader header;
    header.product = 12;
    Bytes data = Counting(32, 0);
    const std::string sent = WriteKfw("sent.kfw", header, data, 16, 0);
    data[20] ^= 0x01;
    const std::string expected = WriteKfw("expected.kfw", header, data, 16, 0);
    SimConfig config;
    config.expect = Expect(expected);
    StartBus(config);

    EXPECT_EQ(Download(sent), CTransferEngine::StateReady) << "the loader cannot tell";
    m_bus->Stop();
    EXPECT_FALSE(m_bus->Sim().DownloadsOk());
    const std::string report = m_bus->ReportText();
    EXPECT_NE(report.find("violation: message 5: IplData byte 4 is 14, expected 15"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("result FAILED"), std::string::npos);
}

TEST_F(LoaderOnSimTest, WithoutEchoesTheLoaderFailsAndTheBusReportsNoDownload) {
    kfw::FirmwareHeader header;
    header.product = 12;
    const std::string path = WriteKfw("silent.kfw", header, Counting(16, 0), 16, 0);
    SimConfig config;
    config.faults.none = true;
    config.expect = Expect(path);
    StartBus(config);

    EXPECT_EQ(Download(path), CTransferEngine::StateFailed);
    m_bus->Stop();
    EXPECT_FALSE(m_bus->Sim().DownloadsOk());
    ASSERT_EQ(m_bus->Sim().BootLoader().Reports().size(), 1u);
    const DownloadReport& r = m_bus->Sim().BootLoader().Reports()[0];
    EXPECT_EQ(r.writes, 6) << "one IplSetup, written six times\n" << m_bus->ReportText();
    EXPECT_FALSE(r.ended);
}

TEST_F(LoaderOnSimTest, DiscoveryRepliesReachTheLoadersWindow) {
    SimConfig config;
    config.devices.push_back({.product = 12, .software = 0x0B, .serial = 0xFF});
    config.devices.push_back(
        {.product = 20, .product2 = 0x18, .serial = 0x10000, .serial2 = 0xDEADBEEF});
    config.ping.once = Ms(100);
    StartBus(config);
    CollectingSink sink;
    m_doc.m_pDiscoverDlg = &sink;
    m_doc.OpenPort(&m_notify);
    ASSERT_TRUE(m_doc.IsPortOpen());
    ASSERT_EQ(m_doc.SendDiscover(0), 1);
    EXPECT_TRUE(
        RunEventsUntil([&] { return sink.replies.size() >= 2 && !sink.pings.empty(); }, 10000));
    ASSERT_EQ(sink.replies.size(), 2u);
    EXPECT_EQ(sink.replies[0][5], 12);
    EXPECT_EQ(sink.replies[0][8], 0x0B);
    EXPECT_EQ(sink.replies[0][11], 0xFF);
    EXPECT_EQ(sink.replies[1][6], 0x18);
    EXPECT_EQ(sink.replies[1][13], 0x01);
    EXPECT_EQ(sink.replies[1][18], 0xDE);
    ASSERT_EQ(sink.pings.size(), 1u);
    EXPECT_EQ(sink.pings[0][12], 0x50);

    ASSERT_EQ(m_doc.SendIdentify(12, 0xFF), 1);
    EXPECT_TRUE(m_bus->AwaitLog("identify: product 12 serial 0000FF: device 1", 5000));
    m_doc.ClosePort();
    m_doc.m_pDiscoverDlg = nullptr;
}
