#pragma once
// CPortSetup: the port selection dialog (130). It lists the COM ports 1 to 19 that are free (and
// follows adapters plugged in or pulled while it is open) and the monitor's bit rates; only a
// choice from a list counts.

#include "platform/gui/dialog.h"

#include <memory>
#include <vector>

namespace serial {
class PortWatcher;
class PortSurvey;
struct SurveyedPort;
} // namespace serial

class CPortSetup : public platform::Dialog {
public:
    explicit CPortSetup(QWidget* parent = nullptr);
    ~CPortSetup() override;

    int m_nPort = 1;
    int m_nBitRateIndex = 0;

    static constexpr int kHighestPort = 19;

    // A port survey has been asked for and the list not yet filled from it.
    bool IsSurveyingPorts() const;

protected:
    bool OnInitDialog() override;

private:
    // Surveys the ports off the window's thread: at first, and whenever an adapter comes or
    // goes while the dialog is open.
    void SurveyPorts();
    // Lists the surveyed free ports, selecting m_nPort when it is among them.
    void FillPortList(const std::vector<serial::SurveyedPort>& survey);
    void OnPortChange();
    void OnBitRateChange();

    std::unique_ptr<serial::PortSurvey> m_portSurvey;
    std::unique_ptr<serial::PortWatcher> m_portWatcher;
};
