#include "loader/discover_dlg.h"

#include "loader/discovery_rows.h"
#include "loader/kelvload_doc.h"
#include "loader/kelvload_ids.h"
#include "loader/kelvload_resources.h"
#include "loader/product_table.h"

#include <QHeaderView>
#include <QStyle>

using namespace kelvload;

CKelvloadDoc* CDiscoverDlg::m_pDoc = nullptr;

namespace {

constexpr int kColumnDevice = 1;
constexpr int kColumnSerial = 2;
constexpr int kColumnSoftware = 3;
constexpr int kColumnHardware = 4;
constexpr int kColumnBootLoader = 5;
constexpr int kColumnSecondarySerial = 6;
constexpr int kAllProducts = 0;

} // namespace

CDiscoverDlg::CDiscoverDlg(std::function<bool()> runUnderWay)
    : platform::Dialog(DiscoverTemplate(), nullptr), m_runUnderWay(std::move(runUnderWay)) {
    OnCommand(IdcDiscover, platform::Notify::Clicked, [this] { OnDiscover(); });
    OnCommand(IdcIdentify, platform::Notify::Clicked, [this] { OnIdentify(); });
    OnCommand(IdcSetAll, platform::Notify::Clicked, [this] { OnSetAll(); });
    OnCommand(IdcClearAll, platform::Notify::Clicked, [this] { OnClearAll(); });
}

CDiscoverDlg::~CDiscoverDlg() {
    // Deleted without its window being closed first (the program ends): no reply may reach it.
    Unregister();
}

void CDiscoverDlg::DoDataExchange(platform::DataExchange& dx) {
    dx.Control(IdcDeviceList, m_list);
    m_pStatus = Item<QLabel>(IdcRssi);
}

bool CDiscoverDlg::OnInitDialog() {
    platform::Dialog::OnInitDialog();
    m_list.DefineColumns(QString::fromLatin1(ColumnSpec));
    WidenColumnsForFont();
    m_list.ShowGridLines(true);
    m_list.SetCheckMode(CheckMulti);
    m_list.AllowEditing(false);
    m_list.DeleteRows(ItemAny);
    if (m_pDoc != nullptr) {
        m_pDoc->QueueRequest([](CKelvloadDoc& doc) { doc.SendDiscover(kAllProducts); });
    }
    return true;
}

// The column widths are pixels for the classic 8-point dialog font, whose average character is 6
// pixels wide. A desktop font with wider characters widens them in step, so serial numbers fit.
void CDiscoverDlg::WidenColumnsForFont() {
    constexpr double kClassicAverageCharWidth = 6.0;
    const double scale = GetForm().BaseUnits().width() / kClassicAverageCharWidth;
    QHeaderView* header = m_list.header();
    if (scale > 1.0) {
        for (int column = 0; column < m_list.ColumnCount(); ++column) {
            header->resizeSection(column, qRound(header->sectionSize(column) * scale));
        }
    }
    // Digits are wider than the average letter in many fonts: the serial numbers' columns hold
    // their eight digits whatever the font, with the cell's text margins.
    const int margin = m_list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &m_list);
    int widestDigit = 0;
    for (QChar digit : QStringLiteral("0123456789ABCDEF")) {
        widestDigit = qMax(widestDigit, m_list.fontMetrics().horizontalAdvance(digit));
    }
    const int serialWidth = 8 * widestDigit + 2 * (margin + 1) + 2;
    for (int column : {kColumnSerial, kColumnSecondarySerial}) {
        if (column < m_list.ColumnCount() && header->sectionSize(column) < serialWidth) {
            header->resizeSection(column, serialWidth);
        }
    }
}

void CDiscoverDlg::OnDiscover() {
    if (m_pDoc == nullptr) {
        return;
    }
    m_list.DeleteRows(ItemAny);
    m_pDoc->QueueRequest([](CKelvloadDoc& doc) { doc.SendDiscover(kAllProducts); });
}

void CDiscoverDlg::OnIdentify() {
    const int rows = m_list.RowCount();
    for (int row = 0; row < rows; ++row) {
        if (m_pDoc == nullptr || !m_list.GetCheck(row)) {
            continue;
        }
        const std::uint32_t serial = m_list.GetCellHex(row, kColumnSerial);
        const int product = static_cast<int>(m_list.GetRowData(row));
        m_pDoc->QueueRequest(
            [product, serial](CKelvloadDoc& doc) { doc.SendIdentify(product, serial); });
    }
}

void CDiscoverDlg::OnSetAll() {
    SetAllChecks(true);
}

void CDiscoverDlg::OnClearAll() {
    SetAllChecks(false);
}

void CDiscoverDlg::SetAllChecks(bool ticked) {
    const int rows = m_list.RowCount();
    for (int row = 0; row < rows; ++row) {
        m_list.SetCheck(row, ticked);
    }
}

std::string CDiscoverDlg::LookupProductName(std::uint32_t code) {
    return ::LookupProductName(code);
}

void CDiscoverDlg::AddDiscoveryReply(const std::uint8_t* message) {
    const std::optional<DiscoveryRow> decoded = DecodeDiscoveryReply(message);
    if (!decoded) {
        return;
    }
    const int row = m_list.InsertRow(m_list.CountRows(ItemAny), QString());
    if (row < 0) {
        return;
    }
    m_list.SetRowData(row, decoded->productCode);
    m_list.SetCellText(row, 0, QString());
    m_list.SetCellText(row, kColumnDevice, QString::fromStdString(decoded->device));
    m_list.SetCellHex(row, kColumnSerial, decoded->serial);
    m_list.SetCellText(row, kColumnSoftware, QString::fromStdString(decoded->software));
    m_list.SetCellText(row, kColumnHardware, QString::fromStdString(decoded->hardware));
    m_list.SetCellText(row, kColumnBootLoader, QString::fromStdString(decoded->bootLoader));
    m_list.SetCellHex(row, kColumnSecondarySerial, decoded->secondarySerial);
}

void CDiscoverDlg::ShowRssi(const std::uint8_t* message) {
    m_strScratch = QString::fromStdString(FormatRssiLine(message));
    if (m_pStatus != nullptr) {
        m_pStatus->setText(m_strScratch);
    }
}

void CDiscoverDlg::OnCancel() {
    platform::Dialog::OnCancel();
}

void CDiscoverDlg::PostNcDestroy() {
    // A download that started while the window was open keeps its port. The port closes
    // after the requests still queued, so that none of them opens it again.
    const bool runUnderWay = m_runUnderWay && m_runUnderWay();
    if (m_pDoc != nullptr && !runUnderWay) {
        m_pDoc->QueueRequest([](CKelvloadDoc& doc) { doc.CloseIdlePort(); });
    }
    platform::Dialog::PostNcDestroy();
    Unregister();
    delete this;
}

void CDiscoverDlg::Unregister() {
    if (m_pDoc != nullptr && m_pDoc->m_pDiscoverDlg == this) {
        m_pDoc->m_pDiscoverDlg = nullptr;
    }
}
