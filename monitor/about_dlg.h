#pragma once
// CAboutDlg: the about box (100) with the program's name and version.

#include "platform/gui/dialog.h"

class CAboutDlg : public platform::Dialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    bool OnInitDialog() override;
};

// "Version x.y.z", the version text of the title and the about box.
QString KelvmonVersionText();
