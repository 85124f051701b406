#include "monitor/port_setup.h"

#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/monitor_settings.h"
#include "serial/port_failure.h"
#include "serial/port_info.h"
#include "serial/port_names.h"
#include "serial/port_survey.h"
#include "serial/port_watcher.h"
#include "serial/serial.h"

#include <QComboBox>

using namespace kelvmon;

CPortSetup::CPortSetup(QWidget* parent) : platform::Dialog(PortSetupForm(), parent) {
    OnCommand(IdcPortList, platform::Notify::SelChange, [this] { OnPortChange(); });
    OnCommand(IdcBitRateList, platform::Notify::SelChange, [this] { OnBitRateChange(); });
}

CPortSetup::~CPortSetup() = default;

bool CPortSetup::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    m_portSurvey = std::make_unique<serial::PortSurvey>(
        [this](const serial::PortSurvey::Result& survey) { FillPortList(survey); });
    SurveyPorts();
    m_portWatcher = std::make_unique<serial::PortWatcher>([this] { SurveyPorts(); });
    if (auto* rates = Item<QComboBox>(IdcBitRateList)) {
        rates->clear();
        for (int rate : kMonitorBitRates)
            rates->addItem(QString::number(rate), rate);
        // An index outside the table counts as the default one.
        m_nBitRateIndex = ValidBitRateIndex(m_nBitRateIndex);
        rates->setCurrentIndex(m_nBitRateIndex);
    }
    return true;
}

bool CPortSetup::IsSurveyingPorts() const {
    return m_portSurvey && m_portSurvey->Pending();
}

void CPortSetup::SurveyPorts() {
    std::vector<std::string> names;
    for (int n = 1; n <= kHighestPort; ++n)
        names.push_back(serial::ComDeviceName(n));
    // The chosen port is surveyed too, to say why it is not offered.
    names.push_back(serial::ComDeviceName(m_nPort));
    m_portSurvey->Start(std::move(names));
}

void CPortSetup::FillPortList(const serial::PortSurvey::Result& survey) {
    auto* ports = Item<QComboBox>(IdcPortList);
    if (ports == nullptr)
        return;
    ports->clear();
    for (int n = 1; n <= kHighestPort; ++n) {
        const serial::SurveyedPort& port = survey[n - 1];
        // Ports that are missing or in use by another program are not offered.
        if (port.probe.state != PortAvailable)
            continue;
        ports->addItem(QStringLiteral("COM%1").arg(n), n);
        // The tooltip names the device that the entry stands for, and its adapter.
        ports->setItemData(ports->count() - 1,
                           QString::fromStdString(serial::PortTooltip(port.info)), Qt::ToolTipRole);
        if (n == m_nPort)
            ports->setCurrentIndex(ports->count() - 1);
    }
    if (ports->findData(m_nPort) >= 0) {
        ports->setToolTip(ports->currentData(Qt::ToolTipRole).toString());
        return;
    }
    ports->setCurrentIndex(-1); // a chosen port that is not free is not preselected
    // Say why it is missing, when it is there but cannot be had.
    const serial::SurveyedPort& chosen = survey.back();
    const std::string text = chosen.name == serial::ComDeviceName(m_nPort)
                                 ? serial::RefusalText(chosen.probe.refusal)
                                 : std::string();
    ports->setToolTip(
        !text.empty() ? QStringLiteral("COM%1: %2").arg(m_nPort).arg(QString::fromStdString(text))
                      : QString());
}

void CPortSetup::OnPortChange() {
    if (auto* ports = Item<QComboBox>(IdcPortList); ports && ports->currentIndex() >= 0) {
        m_nPort = ports->currentData().toInt();
        ports->setToolTip(ports->currentData(Qt::ToolTipRole).toString());
    }
}

void CPortSetup::OnBitRateChange() {
    if (auto* rates = Item<QComboBox>(IdcBitRateList); rates && rates->currentIndex() >= 0)
        m_nBitRateIndex = rates->currentIndex();
}
