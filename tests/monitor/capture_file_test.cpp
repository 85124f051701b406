#include "monitor/capture_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(CaptureFile, LinesEndInCrLfAndReachTheDiskAtEachFlush) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Capture.cap");
    CCaptureFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.WriteLine("83 7C "));
    ASSERT_TRUE(file.WriteLine("81 7E "));
    ASSERT_TRUE(file.Flush());
    EXPECT_EQ(ReadAll(path), QByteArray("83 7C \r\n81 7E \r\n"));
    ASSERT_TRUE(file.WriteLine("82 7D "));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadAll(path), QByteArray("83 7C \r\n81 7E \r\n82 7D \r\n"));
}

TEST(CaptureFile, OpeningEmptiesAnExistingFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.txt");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old content that must go\r\n");
    }
    CCaptureFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(QFile(path).size(), 0);
    ASSERT_TRUE(file.WriteLine("A"));
    ASSERT_TRUE(file.Open(path)); // off and on again: afresh
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadAll(path), QByteArray());
}

TEST(CaptureFile, UnopenableFileGivesTheSystemReason) {
    QTemporaryDir dir;
    CCaptureFile file;
    EXPECT_FALSE(file.Open(dir.filePath("no/such/folder/x.cap")));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Error().isEmpty());
    EXPECT_FALSE(file.WriteLine("x"));
}

TEST(CaptureFile, FullDiskFailsTheFlushAndClosesTheFile) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    CCaptureFile file;
    ASSERT_TRUE(file.Open("/dev/full"));
    ASSERT_TRUE(file.WriteLine("83 7C ")); // buffered
    EXPECT_FALSE(file.Flush());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(file.Error().contains("space", Qt::CaseInsensitive)) << file.Error().toStdString();
}

TEST(CaptureFile, FullDiskFailsAWriteThatOverflowsTheBuffer) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    CCaptureFile file;
    ASSERT_TRUE(file.Open("/dev/full"));
    const std::string line(200, 'A');
    bool failed = false;
    for (int i = 0; i < 10000 && !failed; ++i)
        failed = !file.WriteLine(line);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(file.IsOpen());
}

} // namespace
