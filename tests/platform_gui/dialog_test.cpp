#include "gui_test_support.h"
#include "platform/gui/dialog.h"
#include "platform/gui/dialog_template.h"

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const DialogTemplate kPortSelection{130,
                                    {182, 70},
                                    QStringLiteral("Port Selection"),
                                    {DefPushButton("OK", IdOk, 125, 7, 50, 14),
                                     PushButton("Cancel", IdCancel, 125, 25, 50, 14),
                                     ComboBox(1003, 7, 20, 100, 80, CbsDropDownList | WsVScroll)}};

class PortDialog : public Dialog {
public:
    explicit PortDialog(bool* destroyed = nullptr)
        : Dialog(kPortSelection), destroyed_(destroyed) {}
    QString m_Port = "COM2";
    int initCalls = 0;

protected:
    bool OnInitDialog() override {
        ++initCalls;
        Item<QComboBox>(1003)->addItems({"COM1", "COM2", "COM5"});
        return Dialog::OnInitDialog();
    }
    void DoDataExchange(DataExchange& dx) override { dx.Text(1003, m_Port); }
    void PostNcDestroy() override {
        if (destroyed_ != nullptr) {
            *destroyed_ = true;
        }
        delete this;
    }

private:
    bool* destroyed_;
};

// Runs `action` on the dialog once its modal loop runs.
void WhenShown(Dialog& dialog, std::function<void()> action) {
    QTimer::singleShot(0, &dialog, [&dialog, action] {
        if (QTest::qWaitForWindowExposed(&dialog)) {
            action();
        }
    });
}

} // namespace

TEST(Dialog, TemplateSetsCaptionAndSize) {
    EnsureApplication();
    PortDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Port Selection");
    EXPECT_EQ(dialog.size(), dialog.GetForm().DesignedSize());
    EXPECT_NE(dialog.Item<QPushButton>(IdOk), nullptr);
}

TEST(Dialog, OkReadsTheControlsAndEndsWithIdOk) {
    EnsureApplication();
    PortDialog dialog;
    WhenShown(dialog, [&dialog] {
        EXPECT_EQ(dialog.Item<QComboBox>(1003)->currentText(), "COM2"); // shown at start
        dialog.Item<QComboBox>(1003)->setCurrentIndex(2);
        QTest::mouseClick(dialog.Item<QPushButton>(IdOk), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.DoModal(), IdOk);
    EXPECT_EQ(dialog.m_Port, "COM5");
    EXPECT_EQ(dialog.initCalls, 1);
}

TEST(Dialog, CancelAndEscapeKeepTheMembers) {
    EnsureApplication();
    PortDialog dialog;
    WhenShown(dialog, [&dialog] {
        dialog.Item<QComboBox>(1003)->setCurrentIndex(0);
        QTest::mouseClick(dialog.Item<QPushButton>(IdCancel), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.DoModal(), IdCancel);
    EXPECT_EQ(dialog.m_Port, "COM2");

    PortDialog second;
    WhenShown(second, [&second] { QTest::keyClick(&second, Qt::Key_Escape); });
    EXPECT_EQ(second.DoModal(), IdCancel);
}

TEST(Dialog, ModelessDialogDestroysItselfFromTheEventLoop) {
    EnsureApplication();
    bool destroyed = false;
    QPointer<PortDialog> dialog = new PortDialog(&destroyed);
    ASSERT_TRUE(dialog->Create());
    EXPECT_TRUE(dialog->IsModeless());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->initCalls, 1);

    QTest::mouseClick(dialog->Item<QPushButton>(IdCancel), Qt::LeftButton);
    ASSERT_FALSE(dialog.isNull()); // still there within the handler's turn
    EXPECT_FALSE(dialog->isVisible());
    dialog->DestroyWindow(); // a second request changes nothing
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 5000);
    EXPECT_TRUE(destroyed);
}
