#include "loader/about_dlg.h"

#include "loader/kelvload_ids.h"
#include "loader/kelvload_resources.h"
#include "platform/gui/data_exchange.h"
#include "platform/gui/string_table.h"

CAboutDlg::CAboutDlg(QWidget* parent) : platform::Dialog(kelvload::AboutTemplate(), parent) {}

bool CAboutDlg::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    platform::SetWindowText(GetDlgItem(kelvload::IdcAboutVersion),
                            QString::fromLatin1(kelvload::AboutTextPrefix) +
                                platform::LoadString(kelvload::IdsVersion));
    return true;
}
