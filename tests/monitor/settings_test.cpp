#include "monitor/monitor_settings.h"
#include "monitor/window_pos.h"

#include <gtest/gtest.h>

#include <QDir>
#include <map>

namespace {

// The settings store as a map, with an optional key whose writes fail.
struct MapStore : ISettingsAccess {
    std::map<std::pair<QString, QString>, QString> values;
    QString failingKey;

    std::optional<QString> ReadText(const QString& section, const QString& key) override {
        const auto it = values.find({section, key});
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    bool WriteText(const QString& section, const QString& key, const QString& value) override {
        if (key == failingKey)
            return false;
        values[{section, key}] = value;
        return true;
    }
};

const QString kInts = QStringLiteral("Settings\\Ints");
const QString kStrings = QStringLiteral("Settings\\Strings");

TEST(MonitorSettings, FirstRunDefaults) {
    MapStore store;
    const MonitorSettings s = LoadMonitorSettings(store);
    EXPECT_EQ(s.m_ActiveComPort, 1);
    EXPECT_EQ(s.m_BitRate, 4);
    EXPECT_EQ(BitRateOfIndex(s.m_BitRate), 16457);
    EXPECT_EQ(s.m_DisplayModeGrp, 0);
    EXPECT_EQ(s.m_UseTimeStamp, 0);
    EXPECT_EQ(s.m_CaptureFilePath, QDir::home().filePath("Capture.cap"));
    EXPECT_EQ(s.m_SendFilePath, QDir::home().filePath("Send.cap"));
    EXPECT_EQ(s.m_SendStr, "81 ");
    EXPECT_EQ(s.m_SendStr2, "82 ");
    EXPECT_EQ(s.m_SendStr3, "83 ");
    EXPECT_EQ(s.m_SendStr4, "84 ");
}

TEST(MonitorSettings, IntegersReadLikeScanfPercentI) {
    EXPECT_EQ(ScanInt("0x10"), 16);
    EXPECT_EQ(ScanInt("010"), 8);
    EXPECT_EQ(ScanInt(" -7"), -7);
    EXPECT_EQ(ScanInt("12abc"), 12);
    EXPECT_EQ(ScanInt("abc"), std::nullopt);
    EXPECT_EQ(ScanInt(""), std::nullopt);
    EXPECT_EQ(ScanInt("99999999999"), std::nullopt);

    MapStore store;
    store.values[{kInts, "m_ActiveComPort"}] = "0x10";
    store.values[{kInts, "m_UseTimeStamp"}] = "junk";
    const MonitorSettings s = LoadMonitorSettings(store);
    EXPECT_EQ(s.m_ActiveComPort, 16);
    EXPECT_EQ(s.m_UseTimeStamp, 0);
}

TEST(MonitorSettings, BadModeAndRateFallBack) {
    MapStore store;
    store.values[{kInts, "m_DisplayModeGrp"}] = "2";
    store.values[{kInts, "m_BitRate"}] = "12";
    MonitorSettings s = LoadMonitorSettings(store);
    EXPECT_EQ(s.m_DisplayModeGrp, 0);
    EXPECT_EQ(s.m_BitRate, 4);
    store.values[{kInts, "m_BitRate"}] = "-1";
    store.values[{kInts, "m_DisplayModeGrp"}] = "1";
    s = LoadMonitorSettings(store);
    EXPECT_EQ(s.m_BitRate, 4);
    EXPECT_EQ(s.m_DisplayModeGrp, 1);
    EXPECT_EQ(BitRateOfIndex(99), 16457);
    EXPECT_EQ(BitRateOfIndex(11), 256000);
}

TEST(MonitorSettings, RoundTripStoresIntegersAsDecimalText) {
    MapStore store;
    MonitorSettings s;
    s.m_ActiveComPort = 16;
    s.m_BitRate = 9;
    s.m_DisplayModeGrp = 1;
    s.m_UseTimeStamp = 1;
    s.m_CaptureFilePath = "/tmp/a b.cap";
    s.m_SendFilePath = "/tmp/s.cap";
    s.m_SendStr = "B0 01 20";
    s.m_SendStr4 = "";
    ASSERT_TRUE(SaveMonitorSettings(store, s));
    EXPECT_EQ((store.values[{kInts, "m_ActiveComPort"}]), "16");
    EXPECT_EQ((store.values[{kInts, "m_BitRate"}]), "9");
    EXPECT_EQ((store.values[{kStrings, "m_SendStr4"}]), "");
    const MonitorSettings r = LoadMonitorSettings(store);
    EXPECT_EQ(r.m_ActiveComPort, 16);
    EXPECT_EQ(r.m_BitRate, 9);
    EXPECT_EQ(r.m_DisplayModeGrp, 1);
    EXPECT_EQ(r.m_UseTimeStamp, 1);
    EXPECT_EQ(r.m_CaptureFilePath, s.m_CaptureFilePath);
    EXPECT_EQ(r.m_SendFilePath, s.m_SendFilePath);
    EXPECT_EQ(r.m_SendStr, "B0 01 20");
    EXPECT_EQ(r.m_SendStr4, ""); // an empty text stays empty, it is not the default
}

TEST(MonitorSettings, SaveStopsAtTheFirstFailedWrite) {
    MapStore store;
    store.failingKey = "m_DisplayModeGrp";
    EXPECT_FALSE(SaveMonitorSettings(store, MonitorSettings()));
    EXPECT_EQ(store.values.size(), 2u);
}

TEST(WindowPos, TextCarriesStayOnTopInBit15) {
    WindowPlacement p;
    p.flags = 0;
    p.showCmd = 1;
    p.SetNormalRect(QRect(100, 100, 624, 620));
    EXPECT_EQ(FormatWindowPos(p, true), "32768:1:-1:-1:-1:-1:100:100:724:720");
    EXPECT_EQ(FormatWindowPos(p, false), "0:1:-1:-1:-1:-1:100:100:724:720");

    p.flags = WindowPlacement::kRestoreToMaximized;
    p.showCmd = WindowPlacement::kShowMaximized;
    const QString text = FormatWindowPos(p, true);
    EXPECT_TRUE(text.startsWith("32770:3:")) << text.toStdString();

    WindowPlacement back;
    bool onTop = false;
    ASSERT_TRUE(ParseWindowPos(text, back, onTop));
    EXPECT_TRUE(onTop);
    EXPECT_EQ(back.length, 44);
    EXPECT_EQ(back.flags, 2);
    EXPECT_EQ(back.showCmd, 3);
    EXPECT_EQ(back.NormalRect(), QRect(100, 100, 624, 620));
}

TEST(WindowPos, MalformedTextsFail) {
    WindowPlacement p;
    bool onTop = true;
    EXPECT_FALSE(ParseWindowPos("", p, onTop));
    EXPECT_FALSE(ParseWindowPos("1:2:3:4:5:6:7:8:9", p, onTop));
    EXPECT_FALSE(ParseWindowPos("1:2:3:4:x:6:7:8:9:10", p, onTop));
    EXPECT_FALSE(ParseWindowPos("1 :2:3:4:5:6:7:8:9:10", p, onTop));
    EXPECT_EQ(p.length, 0);
    EXPECT_TRUE(ParseWindowPos("0x8000:1:-1:-1:-1:-1:0:0:10:10 tail", p, onTop));
    EXPECT_TRUE(onTop);
    EXPECT_EQ(p.flags, 0);
}

TEST(WindowPos, PlacementOffEveryScreenMovesToThePrimary) {
    const QRect primary(0, 0, 1920, 1080);
    const QRect second(1920, 0, 1280, 1024);
    const QList<QRect> screens{primary, second};
    const QRect onSecond(2000, 100, 600, 400);
    EXPECT_EQ(PlaceOnScreens(onSecond, screens, primary), onSecond);
    const QRect partly(1800, 1000, 600, 400);
    EXPECT_EQ(PlaceOnScreens(partly, screens, primary), partly);
    const QRect gone(5000, 3000, 600, 400);
    EXPECT_EQ(PlaceOnScreens(gone, screens, primary), QRect(0, 0, 600, 400));
    const QRect huge(-9000, -9000, 4000, 3000);
    EXPECT_EQ(PlaceOnScreens(huge, screens, primary), QRect(0, 0, 1920, 1080));
}

} // namespace
