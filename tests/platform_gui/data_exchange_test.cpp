#include "gui_test_support.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/form_host.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const DialogTemplate kSettingsForm{102,
                                   {180, 90},
                                   {},
                                   {EditText(1004, 5, 5, 100, 12), LText("", 1014, 5, 20, 100, 8),
                                    CheckBox("Time stamp", 1016, 5, 30, 60, 10),
                                    Control("Tri", 1017, "Button", 0x6 | WsTabStop, 5, 42, 60, 10),
                                    RadioButton("Trakbus Data", 1009, 5, 55, 60, 10, WsGroup),
                                    RadioButton("Raw Data", 1010, 5, 65, 60, 10),
                                    ComboBox(1003, 100, 30, 50, 60, CbsDropDownList | WsVScroll),
                                    ComboBox(1005, 100, 50, 50, 60)}};

// A window built from a template whose members are exchanged with its controls.
class SettingsWindow : public QWidget, public FormHost {
public:
    SettingsWindow() : FormHost(static_cast<QWidget&>(*this)) { GetForm().Create(kSettingsForm); }

    QString m_SendStr;
    QString m_Status;
    int m_UseTimeStamp = 0;
    int m_Tri = 0;
    int m_DisplayModeGrp = 0;
    QString m_Port;
    QString m_Typed;
    bool exchangeMissing = false;
    int exchanges = 0;

protected:
    void DoDataExchange(DataExchange& dx) override {
        ++exchanges;
        dx.Text(1004, m_SendStr);
        dx.Text(1014, m_Status);
        dx.Check(1016, m_UseTimeStamp);
        dx.Check(1017, m_Tri);
        dx.Radio(1009, m_DisplayModeGrp);
        dx.Text(1003, m_Port);
        dx.Text(1005, m_Typed);
        if (exchangeMissing) {
            dx.Text(4711, m_Status);
        }
    }
};

} // namespace

TEST(DataExchange, MembersGoToTheControlsAndBack) {
    EnsureApplication();
    SettingsWindow window;
    window.Item<QComboBox>(1003)->addItems({"COM1", "COM2", "COM3"});
    window.m_SendStr = "81 ";
    window.m_Status = "COM Port 2 Open";
    window.m_UseTimeStamp = 1;
    window.m_DisplayModeGrp = 1;
    window.m_Port = "COM2";
    window.m_Typed = "typed";
    ASSERT_TRUE(window.UpdateData(false));

    EXPECT_EQ(window.Item<QLineEdit>(1004)->text(), "81 ");
    EXPECT_EQ(window.Item<QLabel>(1014)->text(), "COM Port 2 Open");
    EXPECT_TRUE(window.Item<QCheckBox>(1016)->isChecked());
    EXPECT_FALSE(window.Item<QRadioButton>(1009)->isChecked());
    EXPECT_TRUE(window.Item<QRadioButton>(1010)->isChecked());
    EXPECT_EQ(window.Item<QComboBox>(1003)->currentIndex(), 1);
    EXPECT_EQ(window.Item<QComboBox>(1005)->currentText(), "typed");

    // The user changes the controls; saving reads them into the members.
    window.Item<QLineEdit>(1004)->setText("82 04 ");
    window.Item<QCheckBox>(1016)->setChecked(false);
    window.Item<QRadioButton>(1009)->setChecked(true);
    window.Item<QComboBox>(1003)->setCurrentIndex(2);
    window.Item<QCheckBox>(1017)->setCheckState(Qt::PartiallyChecked);
    ASSERT_TRUE(window.UpdateData(true));
    EXPECT_EQ(window.m_SendStr, "82 04 ");
    EXPECT_EQ(window.m_UseTimeStamp, 0);
    EXPECT_EQ(window.m_DisplayModeGrp, 0);
    EXPECT_EQ(window.m_Port, "COM3");
    EXPECT_EQ(window.m_Tri, 2);
    EXPECT_EQ(window.exchanges, 2);
}

TEST(DataExchange, RadioIndexOutsideTheGroupChecksNone) {
    EnsureApplication();
    SettingsWindow window;
    window.m_DisplayModeGrp = 0;
    ASSERT_TRUE(window.UpdateData(false));
    EXPECT_TRUE(window.Item<QRadioButton>(1009)->isChecked());
    window.m_DisplayModeGrp = -1;
    ASSERT_TRUE(window.UpdateData(false));
    EXPECT_FALSE(window.Item<QRadioButton>(1009)->isChecked());
    EXPECT_FALSE(window.Item<QRadioButton>(1010)->isChecked());
    window.m_DisplayModeGrp = 5;
    ASSERT_TRUE(window.UpdateData(true));
    EXPECT_EQ(window.m_DisplayModeGrp, -1);
}

TEST(DataExchange, AMissingControlFailsTheExchange) {
    EnsureApplication();
    SettingsWindow window;
    window.exchangeMissing = true;
    window.m_SendStr = "83 ";
    EXPECT_FALSE(window.UpdateData(false));
    // The controls that exist were still exchanged.
    EXPECT_EQ(window.Item<QLineEdit>(1004)->text(), "83 ");
    window.exchangeMissing = false;
    EXPECT_TRUE(window.UpdateData(true));
}
