// Sending typed messages and files: what reaches the far end of the pty.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/file_chooser.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>

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
    View().OpenPort();
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
}

TEST_F(Send, FileGoesOutExactlyInBothModes) {
    const QString path = TempPath(QStringLiteral("two.cap"));
    WriteFile(path, {0x83, 0x7C});
    ChooseSendFile(path);
    EXPECT_EQ(Text(IdcSendPath), path);
    EXPECT_EQ(Doc().m_SendFilePath, path);
    EXPECT_EQ(View().m_nSendRemaining, 2u);
    EXPECT_EQ(SentBy(IdcSendFile, 2), "83 7C ");
    Click(IdcRawData);
    EXPECT_EQ(SentBy(IdcSendFile, 2), "83 7C ");
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
}

TEST_F(Send, FileDeletedAfterChoosingSendsNothing) {
    const QString path = TempPath(QStringLiteral("gone.bin"));
    WriteFile(path, {0x83, 0x7C});
    ChooseSendFile(path);
    QFile::remove(path);
    Click(IdcSendFile);
    EXPECT_EQ(m_bus->ReadFor(150).size(), 0u);
}

} // namespace
