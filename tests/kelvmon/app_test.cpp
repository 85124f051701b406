// The program as a whole: settings across runs, window placement and stay-on-top, the port
// set-up dialog, the document that writes no file, and the form's layout.

#include "kelvmon_test_support.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/port_setup.h"
#include "platform/gui/single_line_static.h"
#include "platform/gui/window_placement.h"
#include "serial/port_survey.h"
#include "serial/serial.h"
#include "tests/serial/plain_holder.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvmon;

namespace {

const QString kInts = QStringLiteral("Settings\\Ints");
const QString kStrings = QStringLiteral("Settings\\Strings");

using Program = KelvmonTest;

TEST_F(Program, FirstRunDefaults) {
    Store(kInts, QStringLiteral("m_ActiveComPort"), QString()); // as if never stored
    Start();
    const CKelvmonDoc& doc = Doc();
    EXPECT_EQ(doc.m_ActiveComPort, 1);
    EXPECT_EQ(doc.m_BitRate, 4);
    EXPECT_EQ(doc.m_DisplayModeGrp, 0);
    EXPECT_EQ(doc.m_UseTimeStamp, 0);
    EXPECT_EQ(doc.m_SendStr, QStringLiteral("81 "));
    EXPECT_EQ(doc.m_SendStr4, QStringLiteral("84 "));
    EXPECT_EQ(doc.m_CaptureFilePath, TempPath(QStringLiteral("Capture.cap")));
    EXPECT_EQ(doc.m_SendFilePath, TempPath(QStringLiteral("Send.cap")));
    EXPECT_EQ(Text(IdcCapturePath), doc.m_CaptureFilePath);
    // Both path labels hold one line: a long path is elided, never wrapped out of sight.
    for (int id : {IdcCapturePath, IdcSendPath}) {
        EXPECT_NE(dynamic_cast<platform::SingleLineStatic*>(View().Item<QWidget>(id)), nullptr);
    }
    EXPECT_TRUE(View().Item<QAbstractButton>(IdcTrakbusData)->isChecked());
    EXPECT_FALSE(View().Item<QAbstractButton>(IdcTimeStamp)->isChecked());
    EXPECT_FALSE(Frame().m_bStayOnTop);
    EXPECT_FALSE(platform::IsTopMost(Frame()));
    EXPECT_EQ(Frame().windowTitle(),
              QStringLiteral("Kestrom -- kelvmon  Version " KELVMON_VERSION));
    EXPECT_FALSE(View().IsPortOpen()); // COM1 is missing here
    EXPECT_EQ(View().m_nTimerId, TimerId);
    // The main window carries the program's mark, named after the executable.
    EXPECT_EQ(Frame().property("kelvmon_test").toInt(), 1);
}

TEST_F(Program, StoredHexadecimalPortNumberIsRead) {
    Store(kInts, QStringLiteral("m_ActiveComPort"), QStringLiteral("0x10"));
    SetPort(16, m_bus->SlavePath());
    Start();
    EXPECT_EQ(Doc().m_ActiveComPort, 16);
    EXPECT_TRUE(View().IsPortOpen());
}

TEST_F(Program, BadStoredModeAndRateFallBack) {
    Store(kInts, QStringLiteral("m_DisplayModeGrp"), QStringLiteral("7"));
    Store(kInts, QStringLiteral("m_BitRate"), QStringLiteral("12"));
    Start();
    EXPECT_EQ(Doc().m_DisplayModeGrp, 0);
    EXPECT_EQ(Doc().m_BitRate, 4);
    EXPECT_TRUE(View().Item<QAbstractButton>(IdcTrakbusData)->isChecked());
    EXPECT_TRUE(View().IsPortOpen());
}

TEST_F(Program, SettingsChangedInTheWindowAreStoredAtCloseAndComeBack) {
    Start();
    Click(IdcRawData);
    Click(IdcTimeStamp);
    auto* edit = View().Item<QLineEdit>(IdcSendStr3);
    edit->setFocus();
    QCoreApplication::processEvents();
    edit->setText(QStringLiteral("C1 02 03 04 05"));
    View().Item<QWidget>(IdcClear)->setFocus();
    QCoreApplication::processEvents();
    CloseFrame();
    m_app.reset();
    // Integers as decimal text.
    EXPECT_EQ(Stored(kInts, QStringLiteral("m_DisplayModeGrp")), QStringLiteral("1"));
    EXPECT_EQ(Stored(kInts, QStringLiteral("m_UseTimeStamp")), QStringLiteral("1"));
    EXPECT_EQ(Stored(kInts, QStringLiteral("m_ActiveComPort")), QStringLiteral("3"));
    EXPECT_EQ(Stored(kInts, QStringLiteral("m_BitRate")), QStringLiteral("4"));
    EXPECT_EQ(Stored(kStrings, QStringLiteral("m_SendStr3")), QStringLiteral("C1 02 03 04 05"));
    EXPECT_EQ(Stored(kStrings, QStringLiteral("m_SendStr")), QStringLiteral("81 "));

    Start();
    EXPECT_TRUE(View().Item<QAbstractButton>(IdcRawData)->isChecked());
    EXPECT_TRUE(View().Item<QAbstractButton>(IdcTimeStamp)->isChecked());
    EXPECT_EQ(View().Item<QLineEdit>(IdcSendStr3)->text(), QStringLiteral("C1 02 03 04 05"));
    EXPECT_EQ(View().Receiver().DisplayModeGrp(), 1);
}

TEST_F(Program, MaximisedAndOnTopIsStoredAndRestored) {
    Start();
    Frame().OnStayOnTop();
    EXPECT_TRUE(platform::IsTopMost(Frame()));
    Frame().showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(Frame().isMaximized());
    CloseFrame();
    m_app.reset();
    const QString text =
        Stored(QStringLiteral("WindowPos"), QStringLiteral("WindowPos")).value_or("");
    EXPECT_TRUE(text.startsWith(QStringLiteral("32770:3:"))) << text.toStdString();
    EXPECT_EQ(text.split(QLatin1Char(':')).size(), 10);

    Start();
    EXPECT_EQ(Frame().m_bStayOnTop, 1);
    EXPECT_EQ(Frame().m_WindowPlacement.flags & 0x8000, 0); // never passed to the window
    EXPECT_TRUE(platform::IsTopMost(Frame()));
    EXPECT_TRUE(Frame().isMaximized());
}

TEST_F(Program, NormalPlacementComesBackAndMalformedTextIsIgnored) {
    Store(QStringLiteral("WindowPos"), QStringLiteral("WindowPos"),
          QStringLiteral("0:1:-1:-1:-1:-1:40:50:740:650"));
    Start();
    EXPECT_EQ(Frame().m_bStayOnTop, 0);
    EXPECT_FALSE(Frame().isMaximized());
    EXPECT_EQ(Frame().geometry().topLeft(), QPoint(40, 50));
    m_app.reset();

    Store(QStringLiteral("WindowPos"), QStringLiteral("WindowPos"), QStringLiteral("32768:1:2:3"));
    Start();
    EXPECT_EQ(Frame().m_WindowPlacement.length, 0);
    EXPECT_EQ(Frame().m_bStayOnTop, 0);
    EXPECT_FALSE(platform::IsTopMost(Frame()));
}

TEST_F(Program, StoredShowCommandThatWouldHideTheWindowCountsAsNormal) {
    Store(QStringLiteral("WindowPos"), QStringLiteral("WindowPos"),
          QStringLiteral("0:0:-1:-1:-1:-1:40:50:740:650"));
    Start();
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_FALSE(Frame().isMinimized());
    EXPECT_EQ(Frame().geometry().topLeft(), QPoint(40, 50));
    CloseFrame();
    m_app.reset();
    const QString text =
        Stored(QStringLiteral("WindowPos"), QStringLiteral("WindowPos")).value_or("");
    EXPECT_TRUE(text.startsWith(QStringLiteral("0:1:"))) << text.toStdString();
}

TEST_F(Program, PlacementOffEveryScreenComesBackOntoThePrimary) {
    Store(QStringLiteral("WindowPos"), QStringLiteral("WindowPos"),
          QStringLiteral("0:1:-1:-1:-1:-1:30000:30000:30600:30500"));
    Start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(Frame().geometry()))
        << Frame().geometry().x() << "," << Frame().geometry().y();
}

// Runs the port set-up command; `act` works the dialog while it is shown.
void RunPortSetup(CMainFrame& frame, const std::function<void(CPortSetup&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, &frame, [&] {
        auto* dialog = dynamic_cast<CPortSetup*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        // The port list is filled when the survey begun as the dialog opened has ended.
        ASSERT_TRUE(WaitUntil([&] { return !dialog->IsSurveyingPorts(); }));
        acted = true;
        act(*dialog);
    });
    frame.OnPortSetup();
    EXPECT_TRUE(acted);
    EXPECT_TRUE(serial::PortSurvey::WaitForWorkers(std::chrono::seconds(5)));
}

void Pick(CPortSetup& dialog, int id, int index) {
    auto* combo = dialog.Item<QComboBox>(id);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

TEST_F(Program, PortSetupListsOnlyFreePortsAndOkReopens) {
    BusEnd second;
    BusEnd busy;
    SetPort(5, second.SlavePath());
    SetPort(9, busy.SlavePath());
    CSerial other; // another program has COM9
    ASSERT_EQ(other.Open("\\\\.\\COM9"), SerialOk);
    Start();
    ASSERT_TRUE(View().IsPortOpen());

    QStringList listed;
    QString tip;
    RunPortSetup(Frame(), [&](CPortSetup& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Port Selection"));
        auto* ports = dialog.Item<QComboBox>(IdcPortList);
        for (int i = 0; i < ports->count(); ++i)
            listed << ports->itemText(i);
        EXPECT_EQ(ports->currentText(), QStringLiteral("COM3")); // the view closed it first
        tip = ports->itemData(ports->findText(QStringLiteral("COM5")), Qt::ToolTipRole).toString();
        auto* rates = dialog.Item<QComboBox>(IdcBitRateList);
        EXPECT_EQ(rates->count(), 12);
        EXPECT_EQ(rates->currentText(), QStringLiteral("16457"));
        Pick(dialog, IdcPortList, ports->findText(QStringLiteral("COM5")));
        Pick(dialog, IdcBitRateList, 9);
        dialog.Item<QAbstractButton>(platform::IdOk)->click();
    });
    EXPECT_EQ(listed, (QStringList{QStringLiteral("COM3"), QStringLiteral("COM5")}));
    EXPECT_EQ(tip, QString::fromStdString(second.SlavePath()));
    EXPECT_EQ(Doc().m_ActiveComPort, 5);
    EXPECT_EQ(Doc().m_BitRate, 9);
    ASSERT_TRUE(View().IsPortOpen());
    View().OnTimer(TimerId);
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port 5 Open"));
    // The reopened port is the one chosen.
    Click(IdcSendMsg1);
    EXPECT_EQ(Hex(second.Read(2)), "81 7E ");
    EXPECT_EQ(m_bus->ReadFor(100).size(), 0u);
}

TEST_F(Program, APortHeldByAnotherProgramSaysSoIsListedWhenPluggedInAndOpensWhenReleased) {
    // Another program holds COM3 with a plain open, as a terminal program does.
    PlainHolder holder(m_bus->SlavePath());
    ASSERT_TRUE(holder.Holding());
    // The reason names the holder.
    const QString reason = QString::fromStdString(
        serial::RefusalText({.error = EBUSY, .holder = holder.Pid(), .lock = {}, .lockFile = {}}));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("in use by another program (")));
    EXPECT_TRUE(reason.endsWith(QStringLiteral("process %1)").arg(holder.Pid())));
    Start();
    EXPECT_FALSE(View().IsPortOpen());
    View().OnTimer(TimerId);
    // The box keeps the form's text; the reason is in its tooltip, its description and the
    // status bar.
    auto* status = View().Item<QLabel>(IdcPortStatus);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), QStringLiteral("COM Port Closed"));
    EXPECT_EQ(status->toolTip(), QStringLiteral("COM Port Closed: ") + reason);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Description),
              reason);
    EXPECT_EQ(Frame().statusBar()->currentMessage(), QStringLiteral("COM3: ") + reason);

    BusEnd plugged;
    QString chosenTip;
    bool appeared = false;
    RunPortSetup(Frame(), [&](CPortSetup& dialog) {
        auto* ports = dialog.Item<QComboBox>(IdcPortList);
        EXPECT_LT(ports->findText(QStringLiteral("COM3")), 0);
        chosenTip = ports->toolTip();
        SetPort(6, plugged.SlavePath()); // while the dialog is open
        appeared = WaitUntil([&] { return ports->findText(QStringLiteral("COM6")) >= 0; }, 10000);
        dialog.close();
    });
    EXPECT_EQ(chosenTip, QStringLiteral("COM3: ") + reason);
    EXPECT_TRUE(appeared);

    // Once the other program lets go, the port opens within a second or so of timer ticks.
    holder.Release();
    for (int tick = 0; tick < 8 && !View().IsPortOpen(); ++tick)
        View().OnTimer(TimerId);
    EXPECT_TRUE(View().IsPortOpen());
    EXPECT_EQ(Text(IdcPortStatus), QStringLiteral("COM Port 3 Open"));
    EXPECT_EQ(status->toolTip(), QStringLiteral("COM Port 3 Open"));
    EXPECT_TRUE(Frame().statusBar()->currentMessage().isEmpty());
}

TEST_F(Program, PortSetupClosedWithoutOkReopensThePreviousPort) {
    BusEnd second;
    SetPort(5, second.SlavePath());
    Start();
    RunPortSetup(Frame(), [&](CPortSetup& dialog) {
        Pick(dialog, IdcPortList, dialog.Item<QComboBox>(IdcPortList)->findText("COM5"));
        Pick(dialog, IdcBitRateList, 11);
        dialog.close(); // the close box
    });
    EXPECT_EQ(Doc().m_ActiveComPort, 3);
    EXPECT_EQ(Doc().m_BitRate, 4);
    ASSERT_TRUE(View().IsPortOpen());
    Click(IdcSendMsg2);
    EXPECT_EQ(Hex(m_bus->Read(2)), "82 7D ");
}

TEST_F(Program, PortSetupWithBadStoredRateShowsTheDefault) {
    Start();
    Doc().m_BitRate = 40;
    RunPortSetup(Frame(), [&](CPortSetup& dialog) {
        EXPECT_EQ(dialog.Item<QComboBox>(IdcBitRateList)->currentText(), QStringLiteral("16457"));
        dialog.Item<QAbstractButton>(platform::IdOk)->click();
    });
    EXPECT_EQ(Doc().m_BitRate, 4);
}

// Drags `data` over the middle of `target` and drops it there, through the window's own
// routing of drag events, as the windowing system delivers them.
bool DropOn(QWidget& target, const QMimeData& data) {
    QWindow* window = target.window()->windowHandle();
    if (window == nullptr)
        return false;
    const QPointF at = target.mapTo(target.window(), target.rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

TEST_F(Program, OpeningADocumentChangesNoFileAndReloadsTheSettings) {
    const QString path = TempPath(QStringLiteral("project.hex"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    Start({path});
    EXPECT_EQ(Doc().GetPathName(), path);
    EXPECT_EQ(g_ProjectFilePath, path);
    Click(IdcRawData); // not stored yet
    // The file dropped on the window becomes the document.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    EXPECT_TRUE(DropOn(View().TrafficList(), data));
    EXPECT_EQ(Doc().m_DisplayModeGrp, 0);
    EXPECT_TRUE(View().Item<QAbstractButton>(IdcTrakbusData)->isChecked());
    EXPECT_TRUE(View().IsPortOpen());
    // The standard save and new commands write nothing either.
    for (QAction* action : Frame().actions()) {
        if (action->shortcut() == QKeySequence(QKeySequence::Save) ||
            action->shortcut() == QKeySequence(QKeySequence::New))
            action->trigger();
    }
    CloseFrame();
    m_app.reset();
    EXPECT_EQ(ReadFile(path), "keep me");
    EXPECT_EQ(Stored(QStringLiteral("FilePaths"), QStringLiteral("g_ProjectFilePath")), path);
    // The next start takes the remembered path as its document.
    g_ProjectFilePath.clear();
    Start();
    EXPECT_EQ(Doc().GetPathName(), path);
    EXPECT_EQ(Doc().m_bProjectLoaded, 1);
}

TEST_F(Program, FileDroppedOnASendBoxOpensAsTheDocument) {
    const QString path = TempPath(QStringLiteral("dropped.bin"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    Start();
    QCoreApplication::processEvents();
    auto* edit = View().Item<QLineEdit>(IdcSendStr1);
    const QString before = edit->text();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    data.setText(QUrl::fromLocalFile(path).toString()); // as file managers offer it
    EXPECT_TRUE(DropOn(*edit, data));
    EXPECT_EQ(edit->text().toStdString(), before.toStdString());
    EXPECT_EQ(Doc().m_SendStr.toStdString(), before.toStdString());
    EXPECT_EQ(Doc().GetPathName().toStdString(), path.toStdString());
    EXPECT_EQ(g_ProjectFilePath.toStdString(), path.toStdString());
    // Plain text dropped on the box is still taken as typed text.
    QMimeData text;
    text.setText(QStringLiteral("A5 01"));
    DropOn(*edit, text);
    EXPECT_TRUE(edit->text().contains(QStringLiteral("A5 01"))) << edit->text().toStdString();
}

TEST_F(Program, TrafficListGrowsWithTheWindowAndTheRowBelowFollows) {
    Start();
    Frame().showNormal();
    QCoreApplication::processEvents();
    QWidget* list = &View().TrafficList();
    QWidget* clear = View().GetDlgItem(IdcClear);
    QWidget* edit = View().GetDlgItem(IdcSendStr1);
    QWidget* sendFile = View().GetDlgItem(IdcSendFile);
    const QRect list0 = list->geometry(), clear0 = clear->geometry(), edit0 = edit->geometry(),
                file0 = sendFile->geometry();
    Frame().resize(Frame().size() + QSize(200, 100));
    ASSERT_TRUE(WaitUntil([&] { return list->geometry() != list0; }, 2000));
    EXPECT_EQ(list->geometry().size(), list0.size() + QSize(200, 100));
    EXPECT_EQ(clear->geometry(), clear0.translated(0, 100));
    EXPECT_EQ(edit->geometry().width(), edit0.width() + 100);
    EXPECT_EQ(edit->geometry().topLeft(), edit0.topLeft());
    EXPECT_EQ(sendFile->geometry(), file0);
}

TEST_F(Program, AboutBoxNamesTheProgramAndVersion) {
    Start();
    QString shown;
    QTimer::singleShot(0, &Frame(), [&] {
        auto* about = dynamic_cast<platform::Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        shown = platform::GetWindowText(about->GetDlgItem(IdcAboutVersion));
        about->Item<QAbstractButton>(platform::IdOk)->click();
    });
    Frame().OnAppAbout();
    EXPECT_EQ(shown, QStringLiteral("kelvmon Version " KELVMON_VERSION));
}

} // namespace
