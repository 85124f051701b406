#pragma once
// CPortSetup: the port selection dialog (130). It lists the COM ports 1 to 19 that are free now
// and the monitor's bit rates; only a choice from a list counts.

#include "platform/gui/dialog.h"

class CPortSetup : public platform::Dialog {
public:
    explicit CPortSetup(QWidget* parent = nullptr);

    int m_nPort = 1;
    int m_nBitRateIndex = 0;

    static constexpr int kHighestPort = 19;

protected:
    bool OnInitDialog() override;

private:
    void OnPortChange();
    void OnBitRateChange();
};
