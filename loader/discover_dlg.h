#pragma once
// CDiscoverDlg: the "Discover" window. It asks every device on the bus to report itself, lists
// each reply as a row, sends an identify request to every ticked device and shows the signal
// strengths of a ping reply. It is modeless and top-level; it closes the port, unregisters
// from the document and deletes itself when its window goes.

#include "controls/report_ctrl.h"
#include "loader/discovery_sink.h"
#include "platform/gui/dialog.h"

#include <QLabel>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class CKelvloadDoc;

class CDiscoverDlg : public platform::Dialog, public CDiscoverySink {
public:
    // The columns of the device list.
    static constexpr const char* ColumnSpec = "Select, 50, 1  ; Device, 75, 1  ; SN#, 60, 1 ; "
                                              "SWVer, 60, 1  ;HWver,60,1 ;IPL Ver,60,1 ;SN#, 60,1 ";

    // The document the dialogs send through, shared by every instance; the main view sets it
    // before it creates one. Handlers do nothing that needs it while it is null.
    static CKelvloadDoc* m_pDoc;

    // `runUnderWay` tells whether a download is using the port, which the dialog then leaves
    // open when it closes.
    explicit CDiscoverDlg(std::function<bool()> runUnderWay = {});
    ~CDiscoverDlg() override;

    void OnDiscover();
    void OnIdentify();
    void OnSetAll();
    void OnClearAll();

    void ShowRssi(const std::uint8_t* message) override;
    void AddDiscoveryReply(const std::uint8_t* message) override;

    // The product table's name for `code`, or "".
    static std::string LookupProductName(std::uint32_t code);

    CReportCtrl m_list;
    QLabel* m_pStatus = nullptr;
    QString m_strScratch;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void PostNcDestroy() override;
    void DoDataExchange(platform::DataExchange& dx) override;

private:
    void SetAllChecks(bool ticked);
    void WidenColumnsForFont();
    void Unregister();

    std::function<bool()> m_runUnderWay;
};
