#pragma once
// The monitor program in a test: a private settings folder and home, the COM ports 1 to 19 as
// per-user entries (missing unless a test gives one a pseudo-terminal), the whole program
// started as its start-up does, and the far end of the bus as the master side of a pty.

#include "monitor/kelvmon_app.h"
#include "monitor/kelvmon_doc.h"
#include "monitor/kelvmon_view.h"
#include "monitor/main_frame.h"

#include <QApplication>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

void EnsureApp();

// One pseudo-terminal: the program opens the slave as its port, the test is the bus.
class BusEnd {
public:
    BusEnd();
    ~BusEnd();
    BusEnd(const BusEnd&) = delete;
    BusEnd& operator=(const BusEnd&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    void Write(const Bytes& bytes);
    // What the program sent within `ms` (stops early once `want` bytes have come; never
    // takes more than `want`).
    Bytes Read(std::size_t want, int ms = 3000);
    // Everything the program sent within `ms`.
    Bytes ReadFor(int ms);
    // Bytes written to the program that it has not read yet; waits up to `ms` for `want` of them,
    // without running the program's event loop.
    std::size_t Unread(std::size_t want = 0, int ms = 0);
    // Fills the line's queue from the program's side, as a line that carries nothing does: the
    // program's next write waits until the far end reads. Returns the bytes put in; they come
    // before anything the program writes.
    std::size_t FillQueue();

private:
    int m_master = -1;
    int m_slave = -1; // held open, so that the master never sees a hang-up
    std::string m_slavePath;
};

// Pumps the event loop until `done` or the time is up; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int ms = 5000);
// Pumps the event loop for a while.
void Pump(int ms);

class KelvmonTest : public ::testing::Test {
protected:
    KelvmonTest();
    ~KelvmonTest() override;

    // Makes COMn the given device path (a dangling entry stands for a missing port).
    void SetPort(int n, const std::string& target);
    // Writes a value into the monitor's settings file before the program starts.
    void Store(const QString& section, const QString& key, const QString& value);
    std::optional<QString> Stored(const QString& section, const QString& key);
    // Starts the program as its start-up does; `arguments` as on the command line.
    void Start(const QStringList& arguments = {});
    // Closes the main window as the user does (placement, project path, settings stored).
    void CloseFrame();

    CKelvmonView& View() { return *m_app->View(); }
    CKelvmonDoc& Doc() { return *m_app->Document(); }
    CMainFrame& Frame() { return *m_app->Frame(); }

    // The texts of the traffic list.
    std::vector<std::string> Lines();
    // Clicks a button of the form.
    void Click(int id);
    QString Text(int id);

    QString TempPath(const QString& name) const { return m_dir.filePath(name); }
    std::string ReadFile(const QString& path);

    QTemporaryDir m_dir;
    std::unique_ptr<BusEnd> m_bus; // COM3, the stored port
    std::unique_ptr<CKelvmonApp> m_app;
    std::vector<QString> m_boxes; // message boxes shown
};

std::string Hex(const Bytes& bytes);
