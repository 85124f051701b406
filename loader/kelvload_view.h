#pragma once
// CKelvloadView: the loader's main form. The user picks the COM port and bit rate, chooses a KFW
// file, starts and stops programming and opens the discovery window. The programming state and
// the download itself are the transfer engine's, which the view is; the view shows that state
// once a second on the start/stop button and the status lamp.

#include "controls/clock.h"
#include "controls/color_button.h"
#include "controls/status_ctrl.h"
#include "loader/transfer_engine.h"
#include "platform/gui/form_view.h"
#include "serial/port_survey.h"

#include <QComboBox>
#include <QString>
#include <memory>
#include <optional>

namespace serial {
class PortWatcher;
}

class CKelvloadAppDoc;
class QKeyEvent;

class CKelvloadView : public platform::FormView, public CTransferEngine {
public:
    static constexpr unsigned DisplayTimerId = 25;
    static constexpr unsigned DisplayTimerPeriodMs = 1000;

    CKelvloadView();
    ~CKelvloadView() override;

    CKelvloadAppDoc* GetDocument() const;

    // Loads the settings, fills the port and bit-rate lists, loads the last file and starts the
    // display timer. A second call loads only a file the document was opened with.
    void OnInitialUpdate() override;

    void OnSelectFile();
    void OnStartStop();
    void OnPortChange();
    void OnBitRateChange();
    void OnFindDevices();
    int OnSerialNotify(platform::WParam wParam, platform::LParam lParam);
    // Draws the display state when it changed since the last draw.
    void OnTimer(unsigned id) override;
    // Stops a run and waits for its worker, frees nothing twice, closes the port and stores
    // the settings. Runs once, at the latest when the view goes.
    void OnDestroy();

    // Asks a running download to stop and waits for its worker while this thread goes on
    // handling its events, so the window stays drawn until the record under way is finished
    // and the end message confirmed. User input is held back meanwhile.
    void StopRunAndWait();

    // A port survey has been asked for and the list not yet filled from it.
    bool IsSurveyingPorts() const;

    // Members shown in the controls.
    QString m_strPath;
    QString m_strInfo;
    unsigned m_nTimerId = 0;
    int m_nShownState = -1;

    // Controls bound to the form.
    CClock m_clock;
    CStatusCtrl m_lamp;
    CColorButton m_startStop;
    QComboBox m_portList;
    QComboBox m_bitRateList;

protected:
    void DoDataExchange(platform::DataExchange& dx) override;
    // Space and F11 start or stop programming wherever the focus is in the form, also while
    // the button is disabled.
    bool PreTranslateMessage(QKeyEvent& key) override;

private:
    // Lists the surveyed free ports, keeping the chosen port (at first the stored one)
    // selected when it is among them. The port that this program holds open itself stays
    // listed.
    void FillPortList(const serial::PortSurvey::Result& survey);
    // Surveys the ports again off the window's thread (at first, and when an adapter came or
    // went); the list is filled when the survey's result arrives.
    void RefreshPortList();
    // The tooltip of port `number` names its device and adapter, and why it failed to open
    // when it did; the list's own tooltip follows the chosen entry.
    void SetPortTooltip(int index, const QString& reason = {});
    void FillBitRateList();
    // Loads `path` as the file to program; on success it becomes the stored source path.
    void LoadSourceFile(const QString& path);
    // The info area's text while no valid file is loaded.
    void ShowNoFileText();
    bool RunUnderWay() const;
    void ApplyDeferredLinkChoice();
    void DrawState(int state);
    // Per cent, messages sent and time left in the frame's status bar while programming.
    void ShowProgressInStatusBar(bool programming);

    std::unique_ptr<serial::PortSurvey> m_portSurvey;
    std::unique_ptr<serial::PortWatcher> m_portWatcher;
    bool m_bPortsChanged = false; // /dev changed during a run; the list is looked at after it
    bool m_bInitialised = false;
    bool m_bDestroyed = false;
    bool m_bProgressShown = false;
    // A port or bit-rate choice made while a worker is alive; the worker reads the document's
    // values when it opens the port, so they change once it has ended.
    std::optional<int> m_deferredPort;
    std::optional<int> m_deferredBitRate;
};
