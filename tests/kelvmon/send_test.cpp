// Sending typed messages and files: what reaches the far end of the pty.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/file_chooser.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

using namespace kelvmon;

namespace {

struct Send : KelvmonTest {
    Send() { Start(); }

    QLineEdit* Edit(int id) { return View().Item<QLineEdit>(id); }
    // Types a text into an edit and leaves it, as the user does before clicking.
    void Type(int id, const QString& text) {
        QLineEdit* edit = Edit(id);
        edit->setFocus();
        QCoreApplication::processEvents();
        edit->setText(text);
        View().Item<QWidget>(IdcClear)->setFocus();
        QCoreApplication::processEvents();
    }
    std::string SentBy(int button, std::size_t expect) {
        Click(button);
        return Hex(m_bus->Read(expect, 3000));
    }
    void WriteFile(const QString& path, const Bytes& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    std::string ProgressText() {
        for (QLabel* label : Frame().statusBar()->findChildren<QLabel*>()) {
            if (label->accessibleName() == QStringLiteral("Send file progress"))
                return label->text().toStdString();
        }
        return "<no progress label>";
    }
    void ChooseSendFile(const QString& path) {
        platform::SetFileChooserResponder(
            [path](const platform::FileChooserRequest&) { return std::optional<QString>(path); });
        Click(IdcSelectSend);
    }
};

TEST_F(Send, DefaultTextsSendTheirMessagesWithChecksum) {
    EXPECT_EQ(Edit(IdcSendStr1)->text(), QStringLiteral("81 "));
    EXPECT_EQ(SentBy(IdcSendMsg1, 2), "81 7E ");
    EXPECT_EQ(SentBy(IdcSendMsg2, 2), "82 7D ");
    EXPECT_EQ(SentBy(IdcSendMsg3, 2), "83 7C ");
    EXPECT_EQ(SentBy(IdcSendMsg4, 2), "84 7B ");
    // Sending shows nothing of its own.
    Pump(50);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(Send, TextBoxesReadAsNamedAfterTheirButtons) {
    const int edits[4] = {IdcSendStr1, IdcSendStr2, IdcSendStr3, IdcSendStr4};
    Type(IdcSendStr3, QStringLiteral("A5 01"));
    for (int n = 1; n <= 4; ++n) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(Edit(edits[n - 1]));
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::EditableText);
        EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Send Msg%1").arg(n));
        EXPECT_EQ(face->text(QAccessible::Value), Edit(edits[n - 1])->text());
        EXPECT_EQ(face->childCount(), 0);
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Edit(IdcSendStr3))->text(QAccessible::Value),
              QStringLiteral("A5 01"));
}

TEST_F(Send, TypedTextGetsAChecksumInTrakbusModeOnly) {
    Type(IdcSendStr2, QStringLiteral(" b0,1   20 "));
    EXPECT_EQ(Doc().m_SendStr2, QStringLiteral(" b0,1   20 "));
    EXPECT_EQ(SentBy(IdcSendMsg2, 4), "B0 01 20 6E ");
    Click(IdcRawData);
    EXPECT_EQ(SentBy(IdcSendMsg2, 3), "B0 01 20 ");
    EXPECT_EQ(m_bus->ReadFor(100).size(), 0u);
}

TEST_F(Send, EmptyTextSendsTheChecksumAloneOrNothing) {
    Type(IdcSendStr3, QStringLiteral("xyz, ; :-)"));
    EXPECT_EQ(SentBy(IdcSendMsg3, 1), "FF ");
    Click(IdcRawData);
    Click(IdcSendMsg3);
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
}

TEST_F(Send, TextLongerThanTheBufferSendsNothing) {
    QString text;
    for (int i = 0; i < 1024; ++i)
        text += QStringLiteral("01 ");
    Type(IdcSendStr1, text); // 1024 bytes: no room for the checksum
    Click(IdcSendMsg1);
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
    Click(IdcRawData); // exactly fills the buffer without one
    Click(IdcSendMsg1);
    EXPECT_EQ(m_bus->Read(1024).size(), 1024u);
    Type(IdcSendStr1, text + QStringLiteral("01"));
    Click(IdcSendMsg1);
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
}

TEST_F(Send, ReturnMovesTheFocusOnAndSendsNothing) {
    QLineEdit* edit = Edit(IdcSendStr1);
    edit->setFocus();
    QCoreApplication::processEvents();
    ASSERT_TRUE(edit->hasFocus());
    edit->setText(QStringLiteral("A0 01 02"));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &press);
    ASSERT_TRUE(WaitUntil([&] { return !edit->hasFocus(); }, 2000));
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
    // The text typed is the one a later click sends.
    EXPECT_EQ(Doc().m_SendStr, QStringLiteral("A0 01 02"));
    EXPECT_EQ(SentBy(IdcSendMsg1, 4), "A0 01 02 5C ");
}

TEST_F(Send, NothingGoesOutWhileThePortIsClosed) {
    View().ClosePort();
    std::uint32_t written = 99;
    const std::uint8_t b = 0x81;
    EXPECT_EQ(View().SendBytes(&b, 1, written), 1);
    EXPECT_EQ(written, 0u);
    Click(IdcSendMsg1);
    const QString path = TempPath(QStringLiteral("two.bin"));
    WriteFile(path, {0x83, 0x7C});
    ChooseSendFile(path);
    Click(IdcSendFile);
    EXPECT_FALSE(View().SendingFile());
    EXPECT_EQ(View().m_nSendRemaining, 0u);
    // Nothing was kept back either: after reopening, the first bytes on the line are those of
    // the next message.
    View().OpenPort();
    ASSERT_TRUE(View().IsPortOpen());
    Click(IdcSendMsg2);
    EXPECT_EQ(Hex(m_bus->Read(3, 300)), "82 7D ");
}

TEST_F(Send, FileGoesOutExactlyInBothModes) {
    const QString path = TempPath(QStringLiteral("two.cap"));
    WriteFile(path, {0x83, 0x7C});
    ChooseSendFile(path);
    EXPECT_EQ(Text(IdcSendPath), path);
    EXPECT_EQ(Doc().m_SendFilePath, path);
    EXPECT_EQ(View().m_nSendRemaining, 2u);
    EXPECT_EQ(SentBy(IdcSendFile, 2), "83 7C ");
    ASSERT_TRUE(WaitUntil([&] { return !View().SendingFile(); }));
    Click(IdcRawData);
    EXPECT_EQ(SentBy(IdcSendFile, 2), "83 7C ");
    ASSERT_TRUE(WaitUntil([&] { return !View().SendingFile(); }));
    EXPECT_EQ(m_bus->ReadFor(100).size(), 0u);
    EXPECT_EQ(View().m_nSendRemaining, 0u);
}

TEST_F(Send, LongFileArrivesWholeAndInOrder) {
    Bytes bytes;
    for (int i = 0; i < 2500; ++i)
        bytes.push_back(std::uint8_t(i * 7));
    const QString path = TempPath(QStringLiteral("long.bin"));
    WriteFile(path, bytes);
    ChooseSendFile(path);
    Click(IdcSendFile);
    EXPECT_EQ(m_bus->Read(bytes.size()), bytes);
    ASSERT_TRUE(WaitUntil([&] { return !View().SendingFile(); }));
    EXPECT_EQ(ProgressText(), "File sent: 2500 of 2500 bytes");
    EXPECT_EQ(View().m_nSendRemaining, 0u);
}

TEST_F(Send, FileDeletedAfterChoosingSendsNothing) {
    const QString path = TempPath(QStringLiteral("gone.bin"));
    WriteFile(path, {0x83, 0x7C});
    ChooseSendFile(path);
    QFile::remove(path);
    Click(IdcSendFile);
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
}

// The far end of the bus taking the bytes on a thread of its own, a little at a time, as a
// slow line does: a transfer of a large file then lasts while the test works the window.
class SlowReader {
public:
    explicit SlowReader(BusEnd& bus)
        : m_thread([this, &bus] {
              while (!m_stop.load()) {
                  const Bytes got = bus.Read(1024, 1);
                  {
                      std::lock_guard lock(m_mutex);
                      m_got.insert(m_got.end(), got.begin(), got.end());
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~SlowReader() { Stop(); }
    void Stop() {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    std::size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_got.size();
    }
    Bytes Got() {
        std::lock_guard lock(m_mutex);
        return m_got;
    }

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    Bytes m_got;
    std::thread m_thread;
};

// What arrived, with the message found between two chunks taken out; empty when the message
// is not whole at a chunk boundary.
Bytes WithoutMessageBetweenChunks(const Bytes& got, const Bytes& message) {
    for (std::size_t at = 0; at + message.size() <= got.size(); at += 1024) {
        if (std::equal(message.begin(), message.end(), got.begin() + std::ptrdiff_t(at))) {
            Bytes rest(got.begin(), got.begin() + std::ptrdiff_t(at));
            rest.insert(rest.end(), got.begin() + std::ptrdiff_t(at + message.size()), got.end());
            return rest;
        }
    }
    return {};
}

// A line that carries nothing for now (its queue is full): the transfer's chunk waits in its
// write, yet the window goes on receiving, and the messages clicked meanwhile are queued. Once
// the line moves they go out whole between two chunks, and the file arrives complete.
TEST_F(Send, MessagesClickedWhileAChunkWaitsForTheLineGoBetweenChunksAndTheWindowRuns) {
    Doc().m_BitRate = 0; // 1200 bit/s: a chunk's write may wait 9.5 s for the line
    View().OpenPort();
    ASSERT_TRUE(View().IsPortOpen());
    Bytes bytes(16 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7 + 1 + i / 1024);
    const QString path = TempPath(QStringLiteral("held.bin"));
    WriteFile(path, bytes);
    ChooseSendFile(path);
    const std::size_t filler = m_bus->FillQueue();
    ASSERT_GT(filler, 0u);

    Click(IdcSendFile);
    ASSERT_TRUE(View().SendingFile());
    Click(IdcSendMsg1);
    Click(IdcSendMsg2);
    const std::size_t lines = Lines().size();
    m_bus->Write({0x83, 0x7C});
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == lines + 1; }));
    // A chunk still waits for the line.
    EXPECT_TRUE(View().SendingFile());
    EXPECT_GT(View().m_nSendRemaining, 0u);

    const Bytes got = m_bus->Read(filler + bytes.size() + 4, 10000);
    ASSERT_EQ(got.size(), filler + bytes.size() + 4);
    EXPECT_TRUE(std::all_of(got.begin(), got.begin() + std::ptrdiff_t(filler),
                            [](std::uint8_t b) { return b == 0; }));
    const Bytes sent(got.begin() + std::ptrdiff_t(filler), got.end());
    EXPECT_EQ(WithoutMessageBetweenChunks(sent, {0x81, 0x7E, 0x82, 0x7D}), bytes);
    ASSERT_TRUE(WaitUntil([&] { return !View().SendingFile(); }));
    EXPECT_EQ(ProgressText(), "File sent: 16384 of 16384 bytes");
}

TEST_F(Send, WindowKeepsRunningDuringATransferThatEscOrASecondClickStops) {
    Bytes bytes;
    for (int i = 0; i < 8 * 1024 * 1024; ++i)
        bytes.push_back(std::uint8_t(i * 13 + i / 1024));
    const QString path = TempPath(QStringLiteral("big.bin"));
    WriteFile(path, bytes);
    ChooseSendFile(path);
    const QString capture = TempPath(QStringLiteral("during.cap"));
    Doc().m_CaptureFilePath = capture;
    Click(IdcCaptureActive);

    for (const bool byEsc : {true, false}) {
        SCOPED_TRACE(byEsc ? "stopped by Esc" : "stopped by a second click");
        SlowReader far(*m_bus);
        Click(IdcSendFile);
        ASSERT_TRUE(View().SendingFile());
        EXPECT_EQ(Text(IdcSendFile), QStringLiteral("Send File"));
        // Traffic is received, shown and flushed to the capture file by the timer meanwhile.
        const std::size_t lines = Lines().size();
        m_bus->Write({0x83, 0x7C});
        ASSERT_TRUE(WaitUntil([&] {
            return Lines().size() == lines + 1 && ReadFile(capture).size() == (lines + 1) * 8;
        }));
        ASSERT_TRUE(WaitUntil([&] { return far.Count() > 2048; }));
        const std::string progress = ProgressText();
        EXPECT_EQ(progress.rfind("Sending file: ", 0), 0u) << progress;
        EXPECT_NE(progress.find(" of 8388608 bytes"), std::string::npos) << progress;
        EXPECT_LT(View().m_nSendRemaining, 8388608u);
        // A message goes out between two chunks.
        Click(IdcSendMsg1);
        EXPECT_TRUE(View().SendingFile());
        if (byEsc) {
            View().Item<QWidget>(IdcClear)->setFocus();
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(QApplication::focusWidget(), &esc);
        } else {
            Click(IdcSendFile);
        }
        ASSERT_TRUE(WaitUntil([&] { return !View().SendingFile(); }, 10000));
        Pump(50);
        EXPECT_EQ(Text(IdcSendFile), QStringLiteral("Send File"));
        EXPECT_EQ(View().m_nSendRemaining, 0u);
        // Let the far end take the rest of what was written.
        std::size_t before = 0;
        while (far.Count() != before || before == 0) {
            before = far.Count();
            Pump(100);
        }
        far.Stop();
        Bytes got = far.Got();
        const Bytes file = WithoutMessageBetweenChunks(got, {0x81, 0x7E});
        ASSERT_EQ(file.size() + 2, got.size()) << "the message is not whole between two chunks";
        EXPECT_EQ(file.size() % 1024, 0u);
        EXPECT_LT(file.size(), bytes.size());
        EXPECT_TRUE(std::equal(file.begin(), file.end(), bytes.begin()));
        EXPECT_EQ(ProgressText(),
                  "File sending stopped: " + std::to_string(file.size()) + " of 8388608 bytes");
    }
}

} // namespace
