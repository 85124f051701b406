#include "tests/kelvload/app_fixture.h"
#include "tests/support/pty_bus.h"

#include "busproto/messages.h"
#include "loader/kelvload_ids.h"
#include "loader/product_table.h"

#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <array>

namespace {

using namespace kelvload;

constexpr int kBusPort = 9;

Bytes DeviceReply(const DeviceInfo& device) {
    Bytes message(kDeviceMessageLength);
    BuildDeviceReply(device, message.data());
    return message;
}

DeviceInfo Device(std::uint8_t product, std::uint8_t product2, std::uint32_t serial,
                  std::uint32_t serial2 = 0) {
    DeviceInfo device;
    device.product = product;
    device.product2 = product2;
    device.hardware = 3;
    device.software = 0x0B;
    device.bootloader = 0x09;
    device.serial = serial;
    device.serial2 = serial2;
    return device;
}

Bytes Discover() {
    Bytes message(kDeviceMessageLength);
    BuildDiscoverRequest(0, message.data());
    return message;
}

Bytes Identify(std::uint8_t product, std::uint32_t serial) {
    Bytes message(kDeviceMessageLength);
    BuildIdentifyRequest(product, serial, message.data());
    return message;
}

class DiscoveryTest : public KelvloadAppTest {
protected:
    void SetUp() override {
        KelvloadAppTest::SetUp();
        bus = std::make_unique<PtyBus>(kBusPort);
        // Answers: FF, 0100 and 00010000 as serial numbers; a secondary code 0x18 with its
        // 32-bit serial number; an unknown product with that secondary code; and a message of
        // the device group whose code byte is not a reply's.
        Bytes notAReply(kDeviceMessageLength);
        const std::uint8_t data[12] = {20, 0, 3, 0x0B, 0x09, 1, 2, 3};
        BuildDeviceMessage(kDeviceGroup, 0x11, data, notAReply.data());
        bus->SetDiscoverReplies({DeviceReply(Device(20, 0, 0xFF)),
                                 DeviceReply(Device(21, 0, 0x100)),
                                 DeviceReply(Device(22, 0x18, 0x10000, 0x89ABCDEF)),
                                 DeviceReply(Device(1, 0x18, 0x123456, 0x80)), notAReply});
    }
    void TearDown() override {
        KelvloadAppTest::TearDown();
        bus.reset();
    }

    void OpenWindow() {
        StartOn(kBusPort);
        view->OnFindDevices();
        ASSERT_NE(DiscoveryWindow(), nullptr);
        ASSERT_TRUE(bus->WaitForMessages(1, 3000));
        ASSERT_TRUE(RunEventsUntil([&] { return List().RowCount() == 4; }, 3000))
            << List().RowCount() << " rows";
    }

    CReportCtrl& List() { return DiscoveryWindow()->m_list; }
    QString Cell(int row, int column) { return List().GetCellText(row, column); }

    std::unique_ptr<PtyBus> bus;
};

TEST_F(DiscoveryTest, OpensModelessOnTopLevelAndSendsADiscoverRequest) {
    OpenWindow();
    CDiscoverDlg* window = DiscoveryWindow();
    EXPECT_TRUE(window->IsModeless());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Discover");
    EXPECT_TRUE(doc->IsPortOpen());
    EXPECT_EQ(bus->MessageBytes().at(0), Discover());
    EXPECT_FALSE(window->GetDlgItem(IdcPing)->isVisible());
    EXPECT_FALSE(window->GetDlgItem(IdcPing)->isEnabled());
    EXPECT_EQ(List().ColumnCount(), 7);
    EXPECT_EQ(List().GetColumnTitle(1), " Device");
    EXPECT_EQ(List().GetColumnTitle(6), "SN#");
}

TEST_F(DiscoveryTest, RepliesBecomeRowsWithTheirCells) {
    OpenWindow();
    const QString name20 = QString::fromStdString(LookupProductName(20));
    const QString name18 = QString::fromStdString(LookupProductName(0x18));
    EXPECT_EQ(Cell(0, 1), name20);
    EXPECT_EQ(Cell(0, 2), "FF");
    EXPECT_EQ(Cell(1, 2), "0100");
    EXPECT_EQ(Cell(2, 2), "00010000");
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(row, 0), "");
        EXPECT_EQ(Cell(row, 3), "1.3");
        EXPECT_EQ(Cell(row, 5), "1.1");
    }
    EXPECT_EQ(Cell(0, 4), "3");
    EXPECT_EQ(Cell(0, 6), "00");
    EXPECT_EQ(Cell(2, 4), name18);
    EXPECT_EQ(Cell(2, 6), "89ABCDEF");
    // Unknown product, known secondary code: a row without a device name.
    EXPECT_EQ(Cell(3, 1), "");
    EXPECT_EQ(Cell(3, 4), name18);
    EXPECT_EQ(Cell(3, 6), "80");
    EXPECT_EQ(List().GetRowData(0), 20u);
    EXPECT_EQ(List().GetRowData(3), 1u);
    // Eight hex digits fit their columns in the list's own font, with the cell's text margins.
    const int margin =
        List().style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &List()) + 1;
    const int digits =
        List().fontMetrics().horizontalAdvance(QStringLiteral("89ABCDEF")) + 2 * margin;
    EXPECT_GT(List().header()->sectionSize(2), digits);
    EXPECT_GT(List().header()->sectionSize(6), digits);
}

TEST_F(DiscoveryTest, IdentifySendsOneExactRequestPerTickedRow) {
    OpenWindow();
    const size_t before = bus->Messages().size();
    DiscoveryWindow()->OnIdentify(); // nothing ticked: nothing sent
    List().SetCheck(0, true);
    List().SetCheck(2, true);
    DiscoveryWindow()->OnIdentify();
    ASSERT_TRUE(bus->WaitForMessages(before + 2, 3000));
    RunEventsFor(50);
    std::vector<Bytes> sent = bus->MessageBytes();
    ASSERT_EQ(sent.size(), before + 2);
    EXPECT_EQ(sent[before], Identify(20, 0xFF));
    EXPECT_EQ(sent[before + 1], Identify(22, 0x10000));

    DiscoveryWindow()->OnSetAll();
    for (int row = 0; row < 4; ++row) {
        EXPECT_TRUE(List().GetCheck(row)) << row;
    }
    DiscoveryWindow()->OnClearAll();
    for (int row = 0; row < 4; ++row) {
        EXPECT_FALSE(List().GetCheck(row)) << row;
    }
}

TEST_F(DiscoveryTest, APingReplyShowsBothSignalStrengths) {
    OpenWindow();
    Bytes ping(kDeviceMessageLength);
    BuildPingReply(0x08, 0x05, 0xC8, ping.data()); // 0xC8 travels with its high bit apart
    bus->Inject(ping);
    auto* line = qobject_cast<QLabel*>(DiscoveryWindow()->GetDlgItem(IdcRssi));
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(RunEventsUntil([&] { return !line->text().isEmpty(); }, 3000));
    EXPECT_EQ(line->text(), "Local RSSI = 05  Remote RSSI = C8");
}

TEST_F(DiscoveryTest, DiscoverClearsTheListAndAsksAgain) {
    OpenWindow();
    bus->SetDiscoverReplies({DeviceReply(Device(99, 0, 0x42))});
    DiscoveryWindow()->OnDiscover();
    EXPECT_EQ(List().RowCount(), 0);
    ASSERT_TRUE(RunEventsUntil([&] { return List().RowCount() == 1; }, 3000));
    EXPECT_EQ(Cell(0, 2), "42");
    EXPECT_EQ(bus->MessageBytes().back(), Discover());
}

TEST_F(DiscoveryTest, FindDevicesAgainOnlyRaisesTheOneWindow) {
    OpenWindow();
    CDiscoverDlg* first = DiscoveryWindow();
    const size_t sent = bus->Messages().size();
    view->OnFindDevices();
    RunEventsFor(100);
    EXPECT_EQ(DiscoveryWindow(), first);
    EXPECT_EQ(bus->Messages().size(), sent);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        windows += dynamic_cast<CDiscoverDlg*>(w) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(windows, 1);
}

TEST_F(DiscoveryTest, ClosingTheWindowClosesThePortAndUnregisters) {
    OpenWindow();
    QPointer<CDiscoverDlg> window = DiscoveryWindow();
    window->close();
    ASSERT_TRUE(RunEventsUntil([&] { return window == nullptr; }, 3000));
    EXPECT_EQ(doc->m_pDiscoverDlg, nullptr);
    EXPECT_FALSE(doc->IsPortOpen());

    // A later reply reaches no window; a new window starts afresh.
    bus->Inject(DeviceReply(Device(20, 0, 1)));
    RunEventsFor(50);
    view->OnFindDevices();
    ASSERT_NE(DiscoveryWindow(), nullptr);
    EXPECT_NE(DiscoveryWindow(), window.data());
    ASSERT_TRUE(RunEventsUntil([&] { return List().RowCount() == 4; }, 3000)) << List().RowCount();
}

TEST_F(DiscoveryTest, TheProgramMayEndWithTheWindowOpen) {
    OpenWindow();
    CloseFrame();
    // The port closed with the view; the window goes with the program.
    EXPECT_FALSE(doc->IsPortOpen());
    Quit();
    EXPECT_EQ(CDiscoverDlg::m_pDoc, nullptr); // no dialog can reach the gone document
}

} // namespace
