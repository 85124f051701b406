#include "loader/about_dlg.h"

#include "loader/kelvload_ids.h"
#include "loader/kelvload_resources.h"
#include "platform/gui/data_exchange.h"
#include "platform/gui/string_table.h"

#include <QLabel>

CAboutDlg::CAboutDlg(QWidget* parent) : platform::Dialog(kelvload::AboutTemplate(), parent) {}

bool CAboutDlg::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    platform::SetWindowText(GetDlgItem(kelvload::IdcAboutVersion),
                            QString::fromLatin1(kelvload::AboutTextPrefix) +
                                platform::LoadString(kelvload::IdsVersion));
    // The icon static is the template's only one without an identifier of its own.
    if (auto* icon = findChild<QLabel*>(QStringLiteral("control%1").arg(kelvload::IdcStatic))) {
        icon->setPixmap(kelvload::ProgramIcon().pixmap(icon->size()));
        icon->setAccessibleName(QString::fromLatin1(kelvload::AppTitle));
    }
    return true;
}
