#include "gui_test_support.h"
#include "platform/gui/attach_hook.h"
#include "platform/gui/data_exchange.h"
#include "platform/gui/dialog_template.h"
#include "platform/gui/form.h"
#include "platform/gui/single_line_static.h"
#include "platform/gui/window_class.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const DialogTemplate kForm{
    101,
    {200, 100},
    {},
    {Control("", 1000, "MFCClockCtrl", WsVisible, 4, 8, 8, 16),
     PushButton("Start", 1002, 10, 10, 50, 14), CheckBox("Time stamp", 1016, 10, 30, 60, 10),
     RadioButton("Trakbus Data", 1009, 10, 45, 60, 10, WsGroup),
     RadioButton("Raw Data", 1010, 10, 55, 60, 10),
     RadioButton("Other A", 1011, 80, 45, 60, 10, WsGroup),
     RadioButton("Other B", 1012, 80, 55, 60, 10), CText("Centred", 1004, 70, 10, 60, 14, SsSunken),
     LText("Label", -1, 140, 10, 40, 8), EditText(1005, 10, 70, 80, 12, EsReadOnly),
     EditText(1006, 100, 70, 80, 12), ComboBox(1007, 10, 85, 50, 60, CbsDropDownList | WsVScroll),
     ListBox(1008, 140, 30, 50, 30), Control("", 1013, "Static", WsDisabled, 0, 0, 4, 4, true)}};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        surface = std::make_unique<QWidget>();
        form = std::make_unique<Form>(*surface);
        form->Create(kForm);
    }
    template <class T> T* Item(int id) { return qobject_cast<T*>(form->Item(id)); }

    std::unique_ptr<QWidget> surface;
    std::unique_ptr<Form> form;
};

// Counts its attachments.
class Bound : public QWidget, public AttachHook {
public:
    void OnAttach() override { ++attached; }
    int attached = 0;
};

} // namespace

TEST(DialogUnits, ConvertWithQuarterWidthAndEighthHeightRounded) {
    // 7 * 6 / 4 = 10.5 -> 11; 7 * 13 / 8 = 11.375 -> 11; 127 * 6 / 4 = 190.5 -> 191;
    // 19 * 13 / 8 = 30.875 -> 31.
    EXPECT_EQ(DialogUnitsToPixels(QRect(7, 7, 120, 12), QSize(6, 13)), QRect(11, 11, 180, 20));
    // Halves round away from zero on the negative side too: -52 / 8 = -6.5 -> -7.
    EXPECT_EQ(DialogUnitsToPixels(QRect(-2, -4, 4, 8), QSize(6, 13)), QRect(-3, -7, 6, 14));
    EXPECT_EQ(DialogUnitsToPixels(QRect(0, 0, 4, 8), QSize(7, 15)), QRect(0, 0, 7, 15));
}

TEST(DialogUnits, BaseUnitsAreTheFontsAverageLetterWidthAndHeight) {
    EnsureApplication();
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    int total = 0;
    for (char c = 'A'; c <= 'Z'; ++c) {
        total += metrics.horizontalAdvance(QLatin1Char(c));
        total += metrics.horizontalAdvance(QLatin1Char(static_cast<char>(c + 32)));
    }
    const QSize units = DialogBaseUnits(font);
    EXPECT_NEAR(units.width(), total / 52.0, 1.0);
    EXPECT_EQ(units.height(), metrics.height());

    QFont large = font;
    large.setPixelSize(26);
    EXPECT_GT(DialogBaseUnits(large).height(), units.height());
}

TEST(FormFont, TheFormScalesWithTheDesktopFont) {
    EnsureApplication();
    const QFont desktop = QApplication::font();
    QSize previous;
    for (int points : {8, 11, 16}) {
        QFont font = desktop;
        font.setPointSize(points);
        QApplication::setFont(font);
        QWidget surface;
        Form form(surface);
        form.Create(kForm);
        EXPECT_EQ(surface.font().pointSize(), points);
        EXPECT_EQ(form.BaseUnits(), DialogBaseUnits(font));
        EXPECT_EQ(form.Item(1002)->geometry().size(),
                  DialogUnitsToPixels(QRect(10, 10, 50, 14), DialogBaseUnits(font)).size());
        if (previous.isValid()) {
            EXPECT_GT(form.DesignedSize().width(), previous.width()) << points;
            EXPECT_GT(form.DesignedSize().height(), previous.height()) << points;
        }
        previous = form.DesignedSize();
    }
    QApplication::setFont(desktop);
}

TEST_F(FormTest, ControlsStandAtTheirDialogUnitPlaces) {
    const QSize base = form->BaseUnits();
    ASSERT_GT(base.width(), 0);
    EXPECT_EQ(base, DialogBaseUnits(surface->font()));
    EXPECT_EQ(form->DesignedSize(),
              QSize((200 * base.width() + 2) / 4, (100 * base.height() + 4) / 8));
    // (4, 8, 8, 16) dialog units are exactly (1, 1, 2, 2) base units.
    EXPECT_EQ(form->Item(1000)->geometry(),
              QRect(base.width(), base.height(), 2 * base.width(), 2 * base.height()));
    EXPECT_EQ(form->Item(1002)->geometry(), DialogUnitsToPixels(QRect(10, 10, 50, 14), base));
    // A combo box's template height includes its list: the box itself is one line high.
    EXPECT_LT(form->Item(1007)->height(),
              DialogUnitsToPixels(QRect(10, 85, 50, 60), base).height());
    EXPECT_EQ(form->Item(1007)->width(), DialogUnitsToPixels(QRect(10, 85, 50, 60), base).width());
}

TEST_F(FormTest, EachClassBecomesItsWidgetWithItsStyle) {
    EXPECT_NE(Item<QPushButton>(1002), nullptr);
    EXPECT_NE(Item<QCheckBox>(1016), nullptr);
    EXPECT_NE(Item<QRadioButton>(1009), nullptr);
    ASSERT_NE(Item<QLabel>(1004), nullptr);
    EXPECT_TRUE(Item<QLabel>(1004)->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(Item<QLabel>(1004)->text(), "Centred");
    ASSERT_NE(Item<QLineEdit>(1005), nullptr);
    EXPECT_TRUE(Item<QLineEdit>(1005)->isReadOnly());
    EXPECT_FALSE(Item<QLineEdit>(1006)->isReadOnly());
    ASSERT_NE(Item<QComboBox>(1007), nullptr);
    EXPECT_FALSE(Item<QComboBox>(1007)->isEditable());
    EXPECT_NE(Item<QListWidget>(1008), nullptr);

    QWidget* custom = form->Item(1000);
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(GetClassName(custom), "MFCClockCtrl");
    EXPECT_EQ(GetControlId(custom), 1000);
    EXPECT_EQ(GetClassName(form->Item(1004)), "Static");
    EXPECT_EQ(GetStyle(form->Item(1004)) & SsSunken, SsSunken);

    EXPECT_EQ(form->Item(-1), nullptr); // unnamed statics are not found
    EXPECT_EQ(form->Item(4711), nullptr);
    QWidget* hidden = form->Item(1013);
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(hidden->isEnabled());
}

TEST_F(FormTest, RadioGroupsStartAtTheGroupStyle) {
    const QList<QWidget*> first = form->RadioGroup(1009);
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first[0], form->Item(1009));
    EXPECT_EQ(first[1], form->Item(1010));
    EXPECT_EQ(form->RadioGroup(1011).size(), 2);
    EXPECT_TRUE(form->RadioGroup(1002).isEmpty());

    surface->show();
    Item<QRadioButton>(1009)->click();
    Item<QRadioButton>(1011)->click();
    Item<QRadioButton>(1010)->click();
    EXPECT_FALSE(Item<QRadioButton>(1009)->isChecked());
    EXPECT_TRUE(Item<QRadioButton>(1010)->isChecked());
    EXPECT_TRUE(Item<QRadioButton>(1011)->isChecked()); // the other group is left alone
}

TEST_F(FormTest, CommandsReachTheirHandlers) {
    std::vector<std::pair<int, Notify>> seen;
    for (int id : {1002, 1007, 1006, 1005}) {
        for (Notify code :
             {Notify::Clicked, Notify::SelChange, Notify::Change, Notify::KillFocus}) {
            form->OnCommand(id, code, [&seen, id, code] { seen.emplace_back(id, code); });
        }
    }
    surface->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(surface.get()));
    QTest::mouseClick(Item<QPushButton>(1002), Qt::LeftButton);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.back(), std::make_pair(1002, Notify::Clicked));

    auto* combo = Item<QComboBox>(1007);
    combo->addItems({"COM1", "COM2"});
    emit combo->activated(1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.back(), std::make_pair(1007, Notify::SelChange));

    auto* edit = Item<QLineEdit>(1006);
    edit->setText("set by the program"); // not a user change
    EXPECT_EQ(seen.size(), 2u);
    QTest::keyClicks(edit, "x");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back(), std::make_pair(1006, Notify::Change));

    surface->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(surface.get()));
    edit->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(edit->hasFocus());
    Item<QLineEdit>(1005)->setFocus();
    QApplication::processEvents();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::make_pair(1006, Notify::KillFocus));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), std::make_pair(1006, Notify::KillFocus)), 1);
}

TEST_F(FormTest, AttachPutsTheBoundControlInThePlace) {
    std::vector<int> clicks;
    form->OnCommand(1002, Notify::Clicked, [&clicks] { clicks.push_back(1002); });
    std::pair<QWidget*, QWidget*> replaced{nullptr, nullptr};
    form->SetReplaceObserver([&replaced](QWidget* former, QWidget* replacement) {
        replaced = {former, replacement};
    });

    QPointer<QWidget> placeholder = form->Item(1000);
    const QRect place = placeholder->geometry();
    Bound clock;
    ASSERT_TRUE(form->Attach(1000, clock));
    EXPECT_TRUE(placeholder.isNull()); // the template's control is gone
    EXPECT_EQ(form->Item(1000), &clock);
    EXPECT_EQ(clock.parentWidget(), surface.get());
    EXPECT_EQ(clock.geometry(), place);
    EXPECT_EQ(GetClassName(&clock), "MFCClockCtrl");
    EXPECT_EQ(GetControlId(&clock), 1000);
    EXPECT_EQ(clock.attached, 1);
    EXPECT_EQ(replaced.second, &clock);
    ASSERT_TRUE(form->Attach(1000, clock)); // already there: nothing happens
    EXPECT_EQ(clock.attached, 1);

    QPushButton start;
    ASSERT_TRUE(form->Attach(1002, start));
    EXPECT_EQ(start.text(), "Start");
    start.click();
    EXPECT_EQ(clicks, std::vector<int>{1002}); // commands follow the new control

    QWidget stray;
    EXPECT_FALSE(form->Attach(4711, stray));
    clock.setParent(nullptr);
    start.setParent(nullptr);
}

TEST(FormStatics, OneLineHighStaticsElideInTheMiddleAndTallerOnesWrap) {
    EnsureApplication();
    const DialogTemplate statics{102,
                                 {200, 80},
                                 {},
                                 {CText("", 1004, 4, 4, 120, 14, SsSunken | SsCenterImage),
                                  LText("", 1014, 4, 22, 120, 10),
                                  LText("", 1030, 4, 36, 120, 40, SsSunken)}};
    QWidget surface;
    Form form(surface);
    form.Create(statics);
    surface.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&surface));

    const QString path = QStringLiteral("/home/user/firmware/archive/2026/december/releases/"
                                        "candidates/device-controller-2.9.3.kfw");
    for (int id : {1004, 1014}) {
        auto* line = qobject_cast<QLabel*>(form.Item(id));
        ASSERT_NE(line, nullptr) << id;
        SetWindowText(line, path);
        EXPECT_FALSE(line->wordWrap()) << id;
        EXPECT_EQ(line->text(), path) << id;
        EXPECT_EQ(line->toolTip(), path) << id;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(line);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->text(QAccessible::Name), path) << id;

        // What is drawn: both ends of the path around an ellipsis, within the field.
        auto* single = dynamic_cast<SingleLineStatic*>(line);
        ASSERT_NE(single, nullptr) << id;
        const QString shown = single->ShownText();
        EXPECT_TRUE(shown.startsWith(QStringLiteral("/home"))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QStringLiteral("2.9.3.kfw"))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
        EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->contentsRect().width());

        // A path that fits is shown whole, with no tooltip.
        SetWindowText(line, QStringLiteral("/tmp/a.kfw"));
        EXPECT_EQ(single->ShownText(), "/tmp/a.kfw");
        EXPECT_EQ(line->toolTip(), "");
        // Wider again, the same long path fits whole once the field has room for it.
        line->resize(line->fontMetrics().horizontalAdvance(path) + 40, line->height());
        SetWindowText(line, path);
        EXPECT_EQ(single->ShownText(), path);
        EXPECT_EQ(line->toolTip(), "");
    }
    auto* info = qobject_cast<QLabel*>(form.Item(1030));
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->wordWrap());
    EXPECT_EQ(dynamic_cast<SingleLineStatic*>(info), nullptr);
}
