#pragma once
// CPortSetup: the port selection dialog (130). It lists the COM ports 1 to 19 that are free (and
// follows adapters plugged in or pulled while it is open) and the monitor's bit rates; only a
// choice from a list counts.

#include "platform/gui/dialog.h"

#include <memory>

namespace serial {
class PortWatcher;
}

class CPortSetup : public platform::Dialog {
public:
    explicit CPortSetup(QWidget* parent = nullptr);
    ~CPortSetup() override;

    int m_nPort = 1;
    int m_nBitRateIndex = 0;

    static constexpr int kHighestPort = 19;

protected:
    bool OnInitDialog() override;

private:
    // Lists the free ports, selecting m_nPort when it is among them; again whenever an adapter
    // comes or goes while the dialog is open.
    void FillPortList();
    void OnPortChange();
    void OnBitRateChange();

    std::unique_ptr<serial::PortWatcher> m_portWatcher;
};
