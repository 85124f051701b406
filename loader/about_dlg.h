#pragma once
// CAboutDlg: the modal "About Kelvload" box: the program icon, its version line and OK.

#include "platform/gui/dialog.h"

class CAboutDlg : public platform::Dialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    bool OnInitDialog() override;
};
