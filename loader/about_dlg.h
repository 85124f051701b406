#pragma once
// CAboutDlg: the modal "About Kelvload" box with the program's version.

#include "platform/gui/dialog.h"

class CAboutDlg : public platform::Dialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    bool OnInitDialog() override;
};
