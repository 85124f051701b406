#include "gui_test_support.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/file_drop.h"
#include "platform/gui/message_box.h"
#include "platform/gui/string_table.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

using namespace platform;

TEST(StringTable, TextsByNumber) {
    EXPECT_EQ(LoadString(IdsIdleMessage), "Ready");
    EXPECT_FALSE(HasString(61299));
    EXPECT_EQ(LoadString(61299), "");
    AddStrings({{61205, "Ready"}, {61206, "COM Port Failed"}});
    EXPECT_EQ(LoadString(61206), "COM Port Failed");
    AddStrings({{61206, "replaced"}});
    EXPECT_EQ(LoadString(61206), "replaced");
    EXPECT_TRUE(HasString(61205));
}

TEST(FileChooser, FilterTextBecomesNameFilters) {
    EXPECT_EQ(ToNameFilters("KFW Files (*.kfw)|*.kfw||"), QStringList{"KFW Files (*.kfw)"});
    EXPECT_EQ(ToNameFilters("Capture Files (*.cap *.txt)|*.cap; *.txt|All Files (*.*)|*.*||"),
              (QStringList{"Capture Files (*.cap *.txt)", "All Files (*.*)"}));
    // The patterns of the second field are the ones that count.
    EXPECT_EQ(ToNameFilters("Flash Files (*.hex,*.bin)|*.hex;*.bin||"),
              QStringList{"Flash Files (*.hex *.bin)"});
    EXPECT_EQ(ToNameFilters("Any|*||"), QStringList{"Any (*)"});
    EXPECT_TRUE(ToNameFilters("").isEmpty());
    EXPECT_TRUE(ToNameFilters("Unterminated").isEmpty());
}

TEST(FileChooser, StartFolderAndFileFromSettingsPaths) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FileChooserRequest request;
    request.initialFile = "c:\\Capture.cap"; // a stored path of another system
    request.initialFolder = dir.path();
    ChooserStart start = ResolveChooserStart(request);
    EXPECT_EQ(start.fileName, "Capture.cap");
    EXPECT_EQ(QDir(start.folder), QDir(dir.path())); // c:\ does not exist here

    request.initialFile = dir.path() + "/firmware.kfw"; // need not exist; its folder does
    request.initialFolder.clear();
    start = ResolveChooserStart(request);
    EXPECT_EQ(start.fileName, "firmware.kfw");
    EXPECT_EQ(QDir(start.folder), QDir(dir.path()));

    request.initialFile.clear();
    request.initialFolder = dir.path() + "/missing/folder";
    start = ResolveChooserStart(request);
    EXPECT_TRUE(start.folder.isEmpty());
    EXPECT_TRUE(start.fileName.isEmpty());
}

TEST(FileChooser, AnswerGetsTheDefaultExtensionAndCancelGivesNothing) {
    EnsureApplication();
    FileChooserRequest seen;
    SetFileChooserResponder([&seen](const FileChooserRequest& request) -> std::optional<QString> {
        seen = request;
        return QStringLiteral("/tmp/out/capture");
    });
    FileChooserRequest request;
    request.open = false;
    request.title = "Capture File";
    request.filter = "Capture Files (*.cap *.txt)|*.cap; *.txt||";
    request.defaultExtension = "cap";
    EXPECT_EQ(ChooseFile(nullptr, request), QString("/tmp/out/capture.cap"));
    EXPECT_FALSE(seen.open);
    EXPECT_EQ(seen.title, "Capture File");

    SetFileChooserResponder([](const FileChooserRequest&) -> std::optional<QString> {
        return QStringLiteral("/tmp/out/capture.txt");
    });
    EXPECT_EQ(ChooseFile(nullptr, request), QString("/tmp/out/capture.txt"));

    // A file that exists without an extension is taken as it is.
    QTemporaryDir dir;
    const QString bare = dir.filePath("messages");
    QFile file(bare);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SetFileChooserResponder(
        [&](const FileChooserRequest&) -> std::optional<QString> { return bare; });
    EXPECT_EQ(ChooseFile(nullptr, request), bare);

    SetFileChooserResponder([](const FileChooserRequest&) { return std::optional<QString>(); });
    EXPECT_FALSE(ChooseFile(nullptr, request).has_value());
    SetFileChooserResponder(nullptr);
}

TEST(MessageBox, AnswerComesBackAndCaptionDefaultsToTheApplication) {
    EnsureApplication();
    QApplication::setApplicationDisplayName("kelvmon");
    QString text;
    QString caption;
    std::uint32_t type = 99;
    SetMessageBoxResponder([&](const QString& t, const QString& c, std::uint32_t ty) {
        text = t;
        caption = c;
        type = ty;
        return static_cast<int>(IdOk);
    });
    EXPECT_EQ(MessageBox(nullptr, "Could Not Open capture File"), IdOk);
    EXPECT_EQ(text, "Could Not Open capture File");
    EXPECT_EQ(caption, "kelvmon");
    EXPECT_EQ(type, static_cast<std::uint32_t>(MbOk));
    SetMessageBoxResponder(nullptr);
}

namespace {

// Delivers a drop of `data` to the window as the window system would, and returns whether it
// was accepted.
bool Drop(QWidget& window, QMimeData& data) {
    const QPoint centre = window.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

} // namespace

TEST(FileDrop, LocalFilesReachTheHandlerOtherDropsAreRefused) {
    EnsureApplication();
    QWidget window;
    std::vector<QStringList> drops;
    DragAcceptFiles(window, [&drops](const QStringList& paths) { drops.push_back(paths); });
    EXPECT_TRUE(window.acceptDrops());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.cap"), QUrl::fromLocalFile("/tmp/b.kfw")});
    EXPECT_TRUE(Drop(window, files));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (QStringList{"/tmp/a.cap", "/tmp/b.kfw"}));

    QMimeData text;
    text.setText("not a file");
    EXPECT_FALSE(Drop(window, text));
    QMimeData remote;
    remote.setUrls({QUrl("https://example.invalid/x.kfw")});
    EXPECT_FALSE(Drop(window, remote));
    EXPECT_EQ(drops.size(), 1u);
}

TEST(FileChooser, TheDialogsOwnStateStaysInTheKestromStore) {
    EnsureApplication();
    PrivateConfigHome config;
    SetFileChooserResponder(nullptr);
    bool shown = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shown = true;
            dialog->reject();
        }
    });
    FileChooserRequest request;
    request.title = "Select .KFW File";
    request.filter = "KFW Files (*.kfw)|*.kfw||";
    request.initialFolder = config.Path();
    EXPECT_FALSE(ChooseFile(nullptr, request).has_value());
    ASSERT_TRUE(shown);
    // Written on closing, where the programs keep their settings and nowhere else.
    EXPECT_TRUE(QFile::exists(config.Path() + "/Kestrom/QtProject.conf"));
    QStringList elsewhere = QDir(config.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(elsewhere, QStringList({"Kestrom"}));
}
