// The capture file as the user drives it: chooser, the "File Capture Active" box, the lines
// written, and what happens when the disk refuses them.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/message_box.h"

#include <QAbstractButton>
#include <QFile>

using namespace kelvmon;

namespace {

struct Capture : KelvmonTest {
    Capture() { Start(); }

    void Choose(const QString& path) {
        platform::SetFileChooserResponder(
            [this, path](const platform::FileChooserRequest& request) {
                requests.push_back(request);
                return std::optional<QString>(path);
            });
        Click(IdcSelectCapture);
    }
    bool Ticked() { return View().Item<QAbstractButton>(IdcCaptureActive)->isChecked(); }
    void Receive(const Bytes& bytes, std::size_t linesAfter) {
        m_bus->Write(bytes);
        ASSERT_TRUE(WaitUntil(
            [&] { return View().TrafficList().LineCount() >= std::int64_t(linesAfter); }));
    }
    std::vector<platform::FileChooserRequest> requests;
};

TEST_F(Capture, ChooserAsksForAnExistingCapFileAtTheStoredPath) {
    const QString path = TempPath(QStringLiteral("one.cap"));
    Choose(path);
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_FALSE(r.open);
    EXPECT_EQ(r.title, QStringLiteral("Select .cap or .txt File for Capture"));
    EXPECT_EQ(r.filter, QStringLiteral("Capture Files (*.cap *.txt)|*.cap; *.txt||"));
    EXPECT_EQ(r.defaultExtension, QStringLiteral("txt"));
    EXPECT_EQ(r.initialFile, QDir::home().filePath(QStringLiteral("Capture.cap")));
    EXPECT_EQ(Text(IdcCapturePath), path);
    EXPECT_EQ(Doc().m_CaptureFilePath, path);
    // Choosing alone creates or empties nothing.
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(Capture, LinesEndInCrLfAndSwitchingOnEmptiesTheFile) {
    const QString path = TempPath(QStringLiteral("cap.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old content\r\n");
    }
    Choose(path);
    EXPECT_EQ(ReadFile(path), "old content\r\n");
    Click(IdcCaptureActive);
    EXPECT_TRUE(View().CaptureFileOpen());
    EXPECT_EQ(ReadFile(path), "");
    Receive({0x83, 0x7C, 0x83, 0x7D, 0x81, 0x7E}, 2);
    View().OnTimer(TimerId); // flushed at the tick
    EXPECT_EQ(ReadFile(path), "83 7C \r\n81 7E \r\n");

    Click(IdcCaptureActive); // off
    EXPECT_FALSE(View().CaptureFileOpen());
    Receive({0x82, 0x7D}, 3);
    Click(IdcCaptureActive); // on again: the file starts afresh
    Receive({0x84, 0x7B}, 4);
    Click(IdcCaptureActive);
    EXPECT_EQ(ReadFile(path), "84 7B \r\n");
}

TEST_F(Capture, AnotherFileChosenWhileCapturingTakesEffectAtTheNextSwitchOn) {
    const QString first = TempPath(QStringLiteral("first.cap"));
    const QString second = TempPath(QStringLiteral("second.cap"));
    Choose(first);
    Click(IdcCaptureActive);
    Choose(second);
    EXPECT_EQ(Text(IdcCapturePath), second);
    Receive({0x83, 0x7C}, 1);
    Click(IdcCaptureActive);
    EXPECT_EQ(ReadFile(first), "83 7C \r\n");
    EXPECT_FALSE(QFile::exists(second));
    Click(IdcCaptureActive);
    Receive({0x81, 0x7E}, 2);
    Click(IdcCaptureActive);
    EXPECT_EQ(ReadFile(second), "81 7E \r\n");
    EXPECT_EQ(ReadFile(first), "83 7C \r\n");
}

TEST_F(Capture, RawModeWritesOnlyFullLines) {
    const QString path = TempPath(QStringLiteral("raw.cap"));
    Choose(path);
    Click(IdcRawData);
    Click(IdcCaptureActive);
    Bytes bytes;
    for (int b = 0; b < 35; ++b)
        bytes.push_back(std::uint8_t(b));
    m_bus->Write(bytes);
    ASSERT_TRUE(WaitUntil([&] { return View().Receiver().RawCount() == 15; }));
    Click(IdcCaptureActive);
    EXPECT_EQ(ReadFile(path), "00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 \r\n");
}

TEST_F(Capture, PausedMessagesAndBadChecksumsAreNotCaptured) {
    const QString path = TempPath(QStringLiteral("pause.cap"));
    Choose(path);
    Click(IdcCaptureActive);
    Click(IdcPause);
    m_bus->Write({0x83, 0x7C});
    Pump(150);
    Click(IdcPause);
    Receive({0x83, 0x7D, 0x81, 0x7E}, 1);
    Click(IdcCaptureActive);
    EXPECT_EQ(ReadFile(path), "81 7E \r\n");
}

TEST_F(Capture, FileThatCannotBeOpenedIsReportedAndTheBoxStaysTicked) {
    Choose(TempPath(QStringLiteral("no/such/folder/x.cap")));
    Click(IdcCaptureActive);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], QStringLiteral("Could Not Open capture File"));
    EXPECT_TRUE(Ticked());
    EXPECT_FALSE(View().CaptureFileOpen());
    // Lines keep showing.
    Receive({0x83, 0x7C}, 1);
}

TEST_F(Capture, FullDiskStopsCaptureWithOneMessage) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    // Set directly: the chooser would add its default extension to a name without one.
    Doc().m_CaptureFilePath = QStringLiteral("/dev/full");
    Click(IdcCaptureActive);
    ASSERT_TRUE(View().CaptureFileOpen());
    Receive({0x83, 0x7C, 0x81, 0x7E}, 2);
    View().OnTimer(TimerId); // the flush fails
    Pump(50);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].startsWith(QStringLiteral("Could Not Write capture File")));
    EXPECT_TRUE(m_boxes[0].contains(QStringLiteral("No space left on device")))
        << m_boxes[0].toStdString();
    EXPECT_FALSE(Ticked());
    EXPECT_EQ(View().m_bCaptureActive, 0);
    EXPECT_FALSE(View().CaptureFileOpen());
    // Later lines neither fail again nor report again.
    Receive({0x82, 0x7D}, 3);
    View().OnTimer(TimerId);
    Pump(50);
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(Capture, LastLinesThatCannotBeWrittenAtProgramEndAreReportedBeforeTheWindowGoes) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    View().KillTimer(TimerId); // no flush before the end
    Doc().m_CaptureFilePath = QStringLiteral("/dev/full");
    Click(IdcCaptureActive);
    ASSERT_TRUE(View().CaptureFileOpen());
    Receive({0x83, 0x7C}, 1);
    std::vector<bool> windowShown;
    platform::SetMessageBoxResponder([&](const QString& text, const QString&, std::uint32_t) {
        m_boxes.push_back(text);
        windowShown.push_back(Frame().isVisible());
        return int(platform::IdOk);
    });
    CloseFrame();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].startsWith(QStringLiteral("Could Not Write capture File")))
        << m_boxes[0].toStdString();
    EXPECT_TRUE(m_boxes[0].contains(QStringLiteral("No space left on device")))
        << m_boxes[0].toStdString();
    EXPECT_EQ(windowShown, std::vector<bool>{true});
    m_app.reset();
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(Capture, ReopeningTheDocumentSwitchesCaptureOff) {
    const QString path = TempPath(QStringLiteral("doc.cap"));
    Choose(path);
    Click(IdcCaptureActive);
    Receive({0x83, 0x7C}, 1);
    const QString document = TempPath(QStringLiteral("project.bin"));
    QFile(document).open(QIODevice::WriteOnly);
    ASSERT_TRUE(m_app->OpenDocumentFile(document));
    EXPECT_FALSE(View().CaptureFileOpen());
    EXPECT_FALSE(Ticked());
    EXPECT_EQ(ReadFile(path), "83 7C \r\n");
}

} // namespace
