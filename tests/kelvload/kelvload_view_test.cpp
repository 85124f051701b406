#include "tests/kelvload/app_fixture.h"
#include "tests/support/pty_bus.h"

#include "loader/about_dlg.h"
#include "loader/kelvload_ids.h"
#include "platform/gui/message_box.h"
#include "platform/gui/single_line_static.h"
#include "platform/gui/window_class.h"
#include "serial/port_info.h"
#include "serial/serial.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace kelvload;

QString LabelText(const QWidget* w) {
    auto* label = qobject_cast<const QLabel*>(w);
    return label != nullptr ? label->text() : QString();
}

QStringList Entries(const QComboBox& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i) {
        texts << list.itemText(i);
    }
    return texts;
}

void Select(QComboBox& list, const QString& text) {
    const int index = list.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    list.setCurrentIndex(index);
    emit list.activated(index);
}

using KelvloadView = KelvloadAppTest;

TEST_F(KelvloadView, FirstRunWithAnEmptyStoreStartsWithoutAFile) {
    PtyBus com1(1);
    Start();
    EXPECT_EQ(doc->m_ActiveComPort, 1);
    EXPECT_EQ(doc->m_BitRate, 2);
    EXPECT_EQ(QString::fromStdString(doc->m_SrcPath), QDir::homePath());

    ASSERT_GE(view->m_portList.currentIndex(), 0);
    EXPECT_EQ(view->m_portList.currentText(), "COM1");
    EXPECT_EQ(view->m_portList.currentData().toInt(), 1);
    EXPECT_EQ(view->m_portList.currentData(Qt::ToolTipRole).toString().toStdString(),
              com1.SlavePath());
    EXPECT_EQ(Entries(view->m_bitRateList), QStringList({"9600", "14400", "16457", "19200", "38400",
                                                         "56000", "57600", "115200"}));
    EXPECT_EQ(view->m_bitRateList.currentText(), "16457");
    EXPECT_EQ(view->m_bitRateList.currentData().toInt(), 16457);

    EXPECT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    EXPECT_FALSE(view->m_startStop.isEnabled());
    EXPECT_EQ(view->m_startStop.text(), "Start (Spacebar)");
    EXPECT_EQ(view->m_startStop.faceColor, 0x808080u);
    EXPECT_EQ(view->m_lamp.text, ".KFW File Not loaded or Valid");
    EXPECT_EQ(view->m_lamp.lampColor, 0x000000u);
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcInfo)), ".KFW File Not loaded or Valid");
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcPath)), QDir::homePath());
    // The path field holds one line: a long path is elided, never wrapped out of sight.
    EXPECT_NE(dynamic_cast<platform::SingleLineStatic*>(view->GetDlgItem(IdcPath)), nullptr);
    EXPECT_EQ(view->m_nTimerId, 25u);
}

TEST_F(KelvloadView, StoredValuesAreReadWithPercentIAndBadIndexesTakeTheDefault) {
    StoreSetting("Settings\\Ints", "m_ActiveComPort", "0x3");
    StoreSetting("Settings\\Ints", "m_BitRate", "0x3");
    Start();
    EXPECT_EQ(doc->m_ActiveComPort, 3);
    EXPECT_EQ(doc->m_BitRate, 3);
    EXPECT_EQ(view->m_bitRateList.currentText(), "19200");
    Quit();

    for (const char* bad : {"8", "-1", "99999", "fast"}) {
        StoreSetting("Settings\\Ints", "m_BitRate", bad);
        StoreSetting("Settings\\Ints", "m_ActiveComPort", "junk");
        Start();
        EXPECT_EQ(doc->m_BitRate, 2) << bad;
        EXPECT_EQ(view->m_bitRateList.currentIndex(), 2) << bad;
        EXPECT_EQ(doc->m_ActiveComPort, 1) << bad;
        Quit();
    }
}

TEST_F(KelvloadView, AStoredPortThatIsNotOfferedLeavesNoSelectionButKeepsItsValue) {
    PtyBus com2(2);
    StoreSetting("Settings\\Ints", "m_ActiveComPort", "40");
    Start();
    EXPECT_GE(view->m_portList.findText("COM2"), 0);
    EXPECT_EQ(view->m_portList.currentIndex(), -1);
    EXPECT_EQ(doc->m_ActiveComPort, 40);
    CloseFrame();
    EXPECT_EQ(StoredSetting("Settings\\Ints", "m_ActiveComPort"), QString("40"));
}

TEST_F(KelvloadView, APortHeldByAnotherOpenerIsNotOffered) {
    PtyBus com3(3);
    PtyBus com4(4);
    CSerial holder;
    ASSERT_EQ(holder.Open("\\\\.\\COM4"), 0);
    Start();
    EXPECT_GE(view->m_portList.findText("COM3"), 0);
    EXPECT_LT(view->m_portList.findText("COM4"), 0);
    for (int i = 0; i < view->m_portList.count(); ++i) {
        const int n = view->m_portList.itemData(i).toInt();
        EXPECT_EQ(view->m_portList.itemText(i), QString("COM%1").arg(n));
        EXPECT_GE(n, 1);
        EXPECT_LE(n, 44);
    }
}

TEST_F(KelvloadView, PortsComeAndGoWhileTheProgramRunsAndTheChoiceStays) {
    const std::string byId = Path("by-id");
    std::filesystem::create_directories(byId);
    serial::SetByIdDirectoryForTests(byId);
    const std::shared_ptr<void> restore(nullptr,
                                        [](void*) { serial::SetByIdDirectoryForTests(""); });
    PtyBus com1(1);
    Start();
    ASSERT_EQ(view->m_portList.currentText(), "COM1");
    {
        PtyBus com7(7);
        const std::string adapter = "usb-Maker_Model_SN0042-if00-port0";
        std::filesystem::create_symlink(com7.SlavePath(), byId + "/" + adapter);
        ASSERT_TRUE(RunEventsUntil([&] { return view->m_portList.findText("COM7") >= 0; }, 10000));
        const int index = view->m_portList.findText("COM7");
        EXPECT_EQ(view->m_portList.itemData(index, Qt::ToolTipRole).toString().toStdString(),
                  com7.SlavePath() + "\n" + adapter);
        EXPECT_EQ(view->m_portList.currentText(), "COM1");
    }
    EXPECT_TRUE(RunEventsUntil([&] { return view->m_portList.findText("COM7") < 0; }, 10000));
    EXPECT_EQ(view->m_portList.currentText(), "COM1");
    EXPECT_EQ(view->m_portList.toolTip().toStdString(), com1.SlavePath());
}

TEST_F(KelvloadView, SpaceAndF11InStateOneReloadTheFile) {
    const std::string path = Path("later.kfw");
    std::ofstream(path) << "not a firmware file\n";
    StoreSetting("Settings\\Strings", "m_SrcPath", QString::fromStdString(path));
    StoreSetting("Settings\\Ints", "m_ActiveComPort", "30"); // no such port
    Start();
    ASSERT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    ASSERT_FALSE(view->m_startStop.isEnabled());

    PressKey(Qt::Key_Space);
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    EXPECT_FALSE(view->IsWorkerRunning());
    // The failed reload leaves the state text in the info area, no summary of its header.
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcInfo)), ".KFW File Not loaded or Valid");
    EXPECT_EQ(view->m_strInfo, ".KFW File Not loaded or Valid");

    // The key reloads the file although the button is disabled: once the file is valid the
    // run starts and finds no port.
    WriteSampleKfw(path, 64);
    PressKey(Qt::Key_F11);
    ASSERT_TRUE(WaitForWorkerEnd());
    Tick();
    EXPECT_EQ(view->m_nState, CTransferEngine::StatePortFailed);
    EXPECT_EQ(view->m_lamp.text, "COM Port Failed");
    EXPECT_EQ(view->m_lamp.lampColor, 0x808080u);
    EXPECT_TRUE(view->m_startStop.isEnabled());
    EXPECT_EQ(view->m_startStop.faceColor, 0x00FF00u);

    // A file that went bad on disk since it was chosen: at once the same text, not its header.
    std::ofstream(path) << "Product: 7\r\n:zz\r\n";
    PressKey(Qt::Key_Space);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcInfo)), ".KFW File Not loaded or Valid");
    Tick();
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcInfo)), ".KFW File Not loaded or Valid");
    EXPECT_EQ(view->m_lamp.text, ".KFW File Not loaded or Valid");
}

TEST_F(KelvloadView, ChoosingFilesChangesStateAndStoredPathButNotTheTitle) {
    const std::string good = WriteSampleKfw(Path("good.kfw"), 100);
    const std::string bad = Path("bad.kfw");
    std::ofstream(bad) << "Product: 1\r\n:zz\r\n";
    Start();
    const QString title = frame->windowTitle();
    EXPECT_EQ(title, "Kestrom -- kelvload   Version 2.9.3");

    std::vector<platform::FileChooserRequest> asked;
    std::optional<QString> answer = QString::fromStdString(good);
    platform::SetFileChooserResponder([&](const platform::FileChooserRequest& request) {
        asked.push_back(request);
        return answer;
    });
    view->OnSelectFile();
    Tick();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Select .KFW File");
    EXPECT_EQ(asked[0].filter, "KFW Files (*.kfw)|*.kfw||");
    EXPECT_EQ(asked[0].initialFolder, QDir::homePath());
    EXPECT_TRUE(asked[0].open);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    EXPECT_EQ(doc->m_SrcPath, good);
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcPath)).toStdString(), good);
    EXPECT_NE(LabelText(view->GetDlgItem(IdcInfo)), ".KFW File Not loaded or Valid");
    EXPECT_EQ(view->m_lamp.text, "Ready");
    EXPECT_EQ(view->m_lamp.lampColor, 0x00FF00u);
    EXPECT_TRUE(view->m_startStop.isEnabled());
    EXPECT_EQ(frame->windowTitle(), title);

    answer = QString::fromStdString(bad);
    view->OnSelectFile();
    Tick();
    EXPECT_EQ(asked.back().initialFolder.toStdString(), good);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    EXPECT_EQ(doc->m_SrcPath, good); // only a file that loads is kept
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcPath)).toStdString(), bad);
    EXPECT_FALSE(view->m_startStop.isEnabled());

    answer.reset(); // cancelled: nothing changes
    view->OnSelectFile();
    EXPECT_EQ(LabelText(view->GetDlgItem(IdcPath)).toStdString(), bad);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateNoFile);
    EXPECT_EQ(frame->windowTitle(), title);
}

TEST_F(KelvloadView, ChoicesAreStoredWhenTheWindowCloses) {
    PtyBus com5(5);
    const std::string good = WriteSampleKfw(Path("stored.kfw"), 32);
    Start();
    Select(view->m_portList, "COM5");
    Select(view->m_bitRateList, "57600");
    EXPECT_EQ(doc->m_ActiveComPort, 5);
    EXPECT_EQ(doc->m_BitRate, 6);
    platform::SetFileChooserResponder(
        [&](const platform::FileChooserRequest&) { return QString::fromStdString(good); });
    view->OnSelectFile();
    CloseFrame();
    EXPECT_EQ(StoredSetting("Settings\\Ints", "m_ActiveComPort"), QString("5"));
    EXPECT_EQ(StoredSetting("Settings\\Ints", "m_BitRate"), QString("6"));
    EXPECT_EQ(StoredSetting("Settings\\Strings", "m_SrcPath"), QString::fromStdString(good));

    // The next start takes them up: ready at once with COM5 and 57600.
    Quit();
    Start();
    EXPECT_EQ(view->m_portList.currentText(), "COM5");
    EXPECT_EQ(view->m_bitRateList.currentText(), "57600");
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
}

TEST_F(KelvloadView, AFailedSettingsWriteIsReportedToTheCallerOnly) {
    Start();
    // A file where the settings folder belongs: no write can succeed.
    std::ofstream(Path("Kestrom")) << "in the way";
    int boxes = 0;
    platform::SetMessageBoxResponder([&](const QString&, const QString&, std::uint32_t) {
        ++boxes;
        return int(platform::IdOk);
    });
    EXPECT_EQ(doc->SaveSettings(), 0);
    CloseFrame();
    platform::SetMessageBoxResponder({});
    EXPECT_EQ(boxes, 0);
    EXPECT_FALSE(QFileInfo(SettingsFile()).exists());

    std::remove(Path("Kestrom").c_str());
    Quit();
    Start();
    EXPECT_EQ(doc->SaveSettings(), 1);
    EXPECT_EQ(StoredSetting("Settings\\Ints", "m_BitRate"), QString("2"));
}

TEST_F(KelvloadView, AFileOnTheCommandLineIsSelectedAndExtraArgumentsAreSaid) {
    PtyBus com1(1);
    const std::string good = WriteSampleKfw(Path("cmdline.kfw"), 48);
    Start({QString::fromStdString(good)});
    EXPECT_EQ(view->m_portList.currentText(), "COM1");
    EXPECT_EQ(view->m_strPath.toStdString(), good);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    EXPECT_TRUE(view->m_startStop.isEnabled());
    EXPECT_EQ(doc->m_SrcPath, good);

    Quit();

    // More names than the one document: it starts as usual with the first and says the rest.
    testing::internal::CaptureStderr();
    Start({QString::fromStdString(good), "b.kfw", "--verbose"});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(view->m_strPath.toStdString(), good);
    EXPECT_EQ(view->m_nState, CTransferEngine::StateReady);
    // (Qt may add its own warnings behind it.)
    const std::string note =
        "kelvload: ignored extra command-line arguments: \"b.kfw\" \"--verbose\"\n";
    EXPECT_EQ(said.substr(0, note.size()), note) << said;
}

TEST_F(KelvloadView, ASecondFirstUpdateNeitherRefillsTheListsNorReallocates) {
    PtyBus com7(7);
    Start();
    const int ports = view->m_portList.count();
    const std::uint8_t* image = view->m_pImage.get();
    view->OnInitialUpdate();
    EXPECT_EQ(view->m_portList.count(), ports);
    EXPECT_EQ(view->m_bitRateList.count(), 8);
    EXPECT_EQ(view->m_pImage.get(), image);

    // Nothing offers the usual New and Open keys.
    for (QAction* action : frame->findChildren<QAction*>()) {
        EXPECT_NE(action->shortcut(), QKeySequence(QKeySequence::New))
            << action->text().toStdString();
        EXPECT_NE(action->shortcut(), QKeySequence(QKeySequence::Open))
            << action->text().toStdString();
    }
}

TEST_F(KelvloadView, FrameHasItsMenuStatusBarAndAboutBox) {
    Start();
    QStringList menus;
    for (QAction* action : frame->menuBar()->actions()) {
        menus << action->text();
    }
    EXPECT_EQ(menus, QStringList({"&File", "&Help"}));
    EXPECT_EQ(platform::GetControlId(frame->statusBar()), 59393);
    EXPECT_EQ(frame->MessagePane()->text(), "Ready");

    QString aboutTitle;
    QString aboutText;
    QStringList texts;
    QStringList buttons;
    QImage iconShown;
    QSize iconSize;
    QTimer::singleShot(0, [&] {
        auto* box = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* candidate = dynamic_cast<CAboutDlg*>(w); candidate && w->isVisible()) {
                    box = candidate;
                }
            }
        }
        ASSERT_NE(box, nullptr);
        aboutTitle = box->windowTitle();
        aboutText = LabelText(box->GetDlgItem(IdcAboutVersion));
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) {
                iconShown = label->pixmap().toImage();
                iconSize = label->size();
            } else {
                texts << label->text();
            }
        }
        for (QPushButton* button : box->findChildren<QPushButton*>()) {
            buttons << button->text();
        }
        box->EndDialog(platform::IdOk);
    });
    m_app->OnAppAbout();
    EXPECT_EQ(aboutTitle, "About Kelvload");
    EXPECT_EQ(aboutText, "kelvload FFVersion 2.9.3");
    // The program icon, one text line and OK.
    EXPECT_EQ(texts, QStringList({"kelvload FFVersion 2.9.3"}));
    EXPECT_EQ(buttons, QStringList({"OK"}));
    ASSERT_FALSE(iconShown.isNull());
    const QImage programIcon = QImage(":/icons/kelvload-48.png");
    ASSERT_FALSE(programIcon.isNull());
    EXPECT_EQ(iconShown.convertToFormat(QImage::Format_ARGB32),
              QApplication::windowIcon().pixmap(iconSize).toImage().convertToFormat(
                  QImage::Format_ARGB32));
    EXPECT_EQ(QApplication::windowIcon().availableSizes().size(), 2);
    EXPECT_EQ(frame->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

} // namespace
