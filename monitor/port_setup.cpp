#include "monitor/port_setup.h"

#include "monitor/kelvmon_forms.h"
#include "monitor/kelvmon_ids.h"
#include "monitor/monitor_settings.h"
#include "serial/port_names.h"
#include "serial/serial.h"

#include <QComboBox>
#include <QFileInfo>

using namespace kelvmon;

CPortSetup::CPortSetup(QWidget* parent) : platform::Dialog(PortSetupForm(), parent) {
    OnCommand(IdcPortList, platform::Notify::SelChange, [this] { OnPortChange(); });
    OnCommand(IdcBitRateList, platform::Notify::SelChange, [this] { OnBitRateChange(); });
}

bool CPortSetup::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    if (auto* ports = Item<QComboBox>(IdcPortList)) {
        ports->clear();
        for (int n = 1; n <= kHighestPort; ++n) {
            const QString name = QStringLiteral("COM%1").arg(n);
            const QByteArray device = (QStringLiteral("\\\\.\\") + name).toLatin1();
            // Ports that are missing or in use by another program are not offered.
            if (CSerial::ProbePort(device.constData()) != PortAvailable)
                continue;
            ports->addItem(name, n);
            // The tooltip names the device that the entry stands for.
            if (const auto path = serial::ResolvePortName(device.toStdString())) {
                const QString entry = QString::fromStdString(*path);
                const QString target = QFileInfo(entry).canonicalFilePath();
                ports->setItemData(ports->count() - 1, target.isEmpty() ? entry : target,
                                   Qt::ToolTipRole);
            }
            if (n == m_nPort)
                ports->setCurrentIndex(ports->count() - 1);
        }
        if (ports->findData(m_nPort) < 0)
            ports->setCurrentIndex(-1); // a stored port that is not free is not preselected
    }
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

void CPortSetup::OnPortChange() {
    if (auto* ports = Item<QComboBox>(IdcPortList); ports && ports->currentIndex() >= 0)
        m_nPort = ports->currentData().toInt();
}

void CPortSetup::OnBitRateChange() {
    if (auto* rates = Item<QComboBox>(IdcBitRateList); rates && rates->currentIndex() >= 0)
        m_nBitRateIndex = rates->currentIndex();
}
