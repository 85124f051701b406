#pragma once
// Starts the whole loader, as its main() does, inside a test with a private configuration.

#include "loader/discover_dlg.h"
#include "loader/kelvload_app.h"
#include "loader/kelvload_app_doc.h"
#include "loader/kelvload_frame.h"
#include "loader/kelvload_view.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/settings_store.h"
#include "tests/kelvload/kelvload_test_support.h"

#include <QKeyEvent>
#include <QPointer>
#include <memory>

class KelvloadAppTest : public PrivateConfigTest {
protected:
    void TearDown() override {
        platform::SetFileChooserResponder({});
        Quit();
        PrivateConfigTest::TearDown();
    }

    void StoreSetting(const char* section, const char* key, const QString& value) {
        platform::SettingsStore store("kelvload");
        ASSERT_TRUE(store.WriteProfileString(section, key, value));
    }
    std::optional<QString> StoredSetting(const char* section, const char* key) const {
        return platform::SettingsStore("kelvload").ReadString(section, key);
    }

    void Start(const QStringList& arguments = {}) {
        m_app = std::make_unique<CKelvloadApp>();
        ASSERT_TRUE(m_app->InitInstance(arguments));
        view = m_app->GetView();
        doc = m_app->GetDocument();
        frame = m_app->GetMainFrame();
        ASSERT_NE(view, nullptr);
        ASSERT_NE(doc, nullptr);
        ASSERT_NE(frame, nullptr);
        // The port list is filled when the survey begun at the start has ended.
        ASSERT_TRUE(RunEventsUntil([&] { return !view->IsSurveyingPorts(); }, 5000));
    }

    // Starts with port COM<com> stored as the chosen one, as a previous run leaves it.
    void StartOn(int com, const QStringList& arguments = {}) {
        StoreSetting("Settings\\Ints", "m_ActiveComPort", QString::number(com));
        Start(arguments);
    }

    // Closes the main window as the user does and lets it go.
    void CloseFrame() {
        if (frame != nullptr) {
            frame->close();
            RunEventsUntil([&] { return frame == nullptr; }, 5000);
        }
    }

    void Quit() {
        m_app.reset();
        // A survey still under way ends before the next test changes the configuration.
        EXPECT_TRUE(serial::PortSurvey::WaitForWorkers(std::chrono::seconds(5)));
        RunEventsFor(20);
    }

    // One tick of the display timer.
    void Tick() { view->OnTimer(view->m_nTimerId); }

    // A key press as the user gives it, to whichever control of the form has the focus.
    void PressKey(int key) {
        frame->activateWindow();
        view->m_portList.setFocus();
        RunEventsUntil([] { return QApplication::focusWidget() != nullptr; }, 2000);
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        ASSERT_TRUE(view->isAncestorOf(target));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }

    bool WaitForWorkerEnd(int timeoutMs = 10000) {
        return RunEventsUntil([&] { return !view->IsWorkerRunning(); }, timeoutMs);
    }

    CDiscoverDlg* DiscoveryWindow() const {
        return dynamic_cast<CDiscoverDlg*>(doc->m_pDiscoverDlg);
    }

    std::unique_ptr<CKelvloadApp> m_app;
    QPointer<CKelvloadView> view;
    CKelvloadAppDoc* doc = nullptr;
    QPointer<CMainFrame> frame;
};
