#include "monitor/about_dlg.h"

#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "platform/gui/string_table.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>

using namespace kelvmon;

QString KelvmonVersionText() {
    return QStringLiteral("Version " KELVMON_VERSION);
}

CAboutDlg::CAboutDlg(QWidget* parent) : platform::Dialog(AboutForm(), parent) {}

bool CAboutDlg::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    if (auto* version = Item<QLabel>(IdcAboutVersion))
        version->setText(QStringLiteral("kelvmon ") + platform::LoadString(IdsVersion));
    // The icon sits in the first static of the template.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->text().isEmpty() && label != Item<QLabel>(IdcAboutVersion)) {
            QIcon icon = QApplication::windowIcon();
            if (icon.isNull())
                icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
            label->setPixmap(icon.pixmap(label->size()));
            break;
        }
    }
    return true;
}
