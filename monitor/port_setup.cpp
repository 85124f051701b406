#include "monitor/port_setup.h"

#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/monitor_settings.h"
#include "serial/port_failure.h"
#include "serial/port_info.h"
#include "serial/port_names.h"
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
    FillPortList();
    m_portWatcher = std::make_unique<serial::PortWatcher>([this] { FillPortList(); });
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

void CPortSetup::FillPortList() {
    auto* ports = Item<QComboBox>(IdcPortList);
    if (ports == nullptr)
        return;
    ports->clear();
    for (int n = 1; n <= kHighestPort; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        const QByteArray device = QByteArray::fromStdString(serial::ComDeviceName(n));
        // Ports that are missing or in use by another program are not offered.
        if (CSerial::ProbePort(device.constData()) != PortAvailable)
            continue;
        ports->addItem(name, n);
        // The tooltip names the device that the entry stands for, and its adapter.
        const serial::PortInfo info = serial::DescribePort(device.toStdString());
        ports->setItemData(ports->count() - 1, QString::fromStdString(serial::PortTooltip(info)),
                           Qt::ToolTipRole);
        if (n == m_nPort)
            ports->setCurrentIndex(ports->count() - 1);
    }
    if (ports->findData(m_nPort) >= 0) {
        ports->setToolTip(ports->currentData(Qt::ToolTipRole).toString());
        return;
    }
    ports->setCurrentIndex(-1); // a chosen port that is not free is not preselected
    // Say why it is missing, when it is there but cannot be had.
    int reason = 0;
    const QByteArray chosen = QByteArray::fromStdString(serial::ComDeviceName(m_nPort));
    CSerial::ProbePort(chosen.constData(), &reason);
    const char* text = serial::PortFailureText(reason);
    ports->setToolTip(text != nullptr ? QStringLiteral("COM%1: %2").arg(m_nPort).arg(text)
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
