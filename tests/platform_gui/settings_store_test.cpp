#include "gui_test_support.h"
#include "platform/gui/ini_format.h"
#include "platform/gui/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using platform::SettingsStore;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
    PrivateConfigHome home;
    SettingsStore store{QStringLiteral("kelvmon")};
};

} // namespace

TEST_F(SettingsStoreTest, FileLivesUnderTheMakersFolderInTheConfigHome) {
    EXPECT_EQ(platform::ConfigHome(), home.Path());
    EXPECT_EQ(store.FilePath(), home.Path() + "/Kestrom/kelvmon.ini");
    qputenv("XDG_CONFIG_HOME", "relative/path"); // not absolute: ignored
    EXPECT_EQ(platform::ConfigHome(), QDir::homePath() + "/.config");
}

TEST_F(SettingsStoreTest, ValuesRoundTripWithTheirSpacesAndBackslashes) {
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_BitRate", "4"), "4"); // nothing stored
    EXPECT_FALSE(store.ReadString("Settings\\Ints", "m_BitRate").has_value());

    ASSERT_TRUE(store.WriteProfileString("Settings\\Ints", "m_BitRate", "2"));
    ASSERT_TRUE(store.WriteProfileString("Settings\\Strings", "m_SendStr", "81 "));
    ASSERT_TRUE(
        store.WriteProfileString("Settings\\Strings", "m_CaptureFilePath", "c:\\Capture.cap"));
    ASSERT_TRUE(
        store.WriteProfileString("WindowPos", "WindowPos", "32768:1:-1:-1:-1:-1:100:100:724:720"));
    ASSERT_TRUE(store.WriteProfileString("Settings\\Strings", "m_Odd", " =;%[x]\n2 "));
    ASSERT_TRUE(store.WriteProfileString("Settings/Slash", "key/with/slash", "v"));
    ASSERT_TRUE(store.WriteProfileString("Settings\\Strings", "m_Empty", ""));

    // A second store, as the next run of the program sees it.
    SettingsStore next(QStringLiteral("kelvmon"));
    EXPECT_EQ(next.GetProfileString("Settings\\Ints", "m_BitRate"), "2");
    EXPECT_EQ(next.GetProfileString("Settings\\Strings", "m_SendStr"), "81 ");
    EXPECT_EQ(next.GetProfileString("Settings\\Strings", "m_CaptureFilePath"), "c:\\Capture.cap");
    EXPECT_EQ(next.GetProfileString("WindowPos", "WindowPos"),
              "32768:1:-1:-1:-1:-1:100:100:724:720");
    EXPECT_EQ(next.GetProfileString("Settings\\Strings", "m_Odd"), " =;%[x]\n2 ");
    EXPECT_EQ(next.GetProfileString("Settings/Slash", "key/with/slash"), "v");
    EXPECT_EQ(next.ReadString("Settings\\Strings", "m_Empty"), QString(""));
    // Sections are separate: the same key elsewhere is not found.
    EXPECT_FALSE(next.ReadString("Settings\\Strings", "m_BitRate").has_value());
    EXPECT_FALSE(next.ReadString("Settings", "Ints\\m_BitRate").has_value());

    // The file shows the sections by their names.
    const QByteArray text = ReadFile(store.FilePath());
    EXPECT_TRUE(text.contains("[Settings\\Ints]\nm_BitRate=2\n")) << text.constData();
    EXPECT_TRUE(text.contains("m_SendStr=81 \n")) << text.constData();
    EXPECT_TRUE(text.contains("[WindowPos]\nWindowPos=32768:1:-1:-1:-1:-1:100:100:724:720\n"));

    // Overwriting keeps the other values.
    ASSERT_TRUE(store.WriteProfileString("Settings\\Ints", "m_BitRate", "7"));
    EXPECT_EQ(next.GetProfileString("Settings\\Ints", "m_BitRate"), "7");
    EXPECT_EQ(next.GetProfileString("Settings\\Strings", "m_SendStr"), "81 ");
}

TEST_F(SettingsStoreTest, EmptySectionOrKeyIsRefused) {
    EXPECT_FALSE(store.WriteProfileString("", "m_BitRate", "2"));
    EXPECT_FALSE(store.WriteProfileString("Settings\\Ints", "", "2"));
    EXPECT_FALSE(QFile::exists(store.FilePath()));
    EXPECT_EQ(store.GetProfileString("", "x", "default"), "default");
}

TEST_F(SettingsStoreTest, HandWrittenFileIsRead) {
    ASSERT_TRUE(WriteFile(store.FilePath(),
                          "; comment\r\n[Settings\\Ints]\r\n m_ActiveComPort = 0x10\r\n"
                          "\r\n[Settings\\Strings]\r\nm_SendStr=82 04 \r\n"));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_ActiveComPort"), " 0x10");
    EXPECT_EQ(store.GetProfileString("Settings\\Strings", "m_SendStr"), "82 04 ");
}

TEST_F(SettingsStoreTest, CorruptFileGivesDefaultsAndIsKeptAside) {
    const char raw[] = "\x01\x02\xff\xfe not an ini file\0\x7f";
    const QByteArray garbage(raw, sizeof raw - 1);
    ASSERT_TRUE(WriteFile(store.FilePath(), garbage));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_BitRate", "4"), "4");
    EXPECT_FALSE(store.ReadString("Settings\\Strings", "m_SendStr").has_value());

    ASSERT_TRUE(store.WriteProfileString("Settings\\Ints", "m_BitRate", "3"));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_BitRate"), "3");
    EXPECT_EQ(ReadFile(store.FilePath() + ".corrupt"), garbage); // nothing of it is lost

    // Lines that are no INI at all count as corrupt too.
    ASSERT_TRUE(WriteFile(store.FilePath(), "[Settings\\Ints]\nthis line has no equals sign\n"));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_BitRate", "default"), "default");
    ASSERT_TRUE(WriteFile(store.FilePath(), "key=before any section\n"));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "key", "default"), "default");
}

TEST_F(SettingsStoreTest, UnreadablePlaceGivesDefaultsAndFailedWrites) {
    // A folder where the file should be: neither readable nor replaceable.
    ASSERT_TRUE(QDir().mkpath(store.FilePath()));
    EXPECT_EQ(store.GetProfileString("Settings\\Ints", "m_BitRate", "4"), "4");
    EXPECT_FALSE(store.WriteProfileString("Settings\\Ints", "m_BitRate", "2"));
    EXPECT_TRUE(QFileInfo(store.FilePath()).isDir());
}

TEST_F(SettingsStoreTest, WritesLeaveNoPartialFilesBehind) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(store.WriteProfileString("Settings\\Ints", QStringLiteral("k%1").arg(i),
                                             QString::number(i)));
    }
    const QStringList files = QDir(QFileInfo(store.FilePath()).absolutePath())
                                  .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(files, QStringList{"kelvmon.ini"});
    SettingsStore next(QStringLiteral("kelvmon"));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(next.GetProfileString("Settings\\Ints", QStringLiteral("k%1").arg(i)),
                  QString::number(i));
    }
}

TEST(IniFormat, ParseRejectsWhatIsNotIni) {
    QSettings::SettingsMap values;
    EXPECT_TRUE(platform::ParseIni("", values));
    EXPECT_TRUE(values.isEmpty());
    EXPECT_FALSE(platform::ParseIni(QByteArray("[a]\nk=v\0", 8), values));
    EXPECT_FALSE(platform::ParseIni("[a]\nk=\xc3\x28\n", values)); // not UTF-8
    EXPECT_FALSE(platform::ParseIni("[unclosed\nk=v\n", values));
    EXPECT_FALSE(platform::ParseIni("[a]\n=no key\n", values));
    values.clear();
    ASSERT_TRUE(platform::ParseIni("[a]\nk=v=w\n", values));
    EXPECT_EQ(values.value(platform::JoinSettingsKey("a", "k")).toString(), "v=w");
}
