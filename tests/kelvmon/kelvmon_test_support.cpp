#include "kelvmon_test_support.h"

#include "platform/gui/data_exchange.h"
#include "platform/gui/file_chooser.h"
#include "platform/gui/message_box.h"
#include "platform/gui/settings_store.h"
#include "serial/port_names.h"
#include "tests/support/raw_pty.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

void EnsureApp() {
    static int argc = 1;
    static char name[] = "kelvmon_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr)
        new QApplication(argc, argv); // lives for the whole test process
}

BusEnd::BusEnd() {
    m_slavePath = OpenRawPty(m_master, m_slave);
}

BusEnd::~BusEnd() {
    close(m_master);
    close(m_slave);
}

void BusEnd::Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the bus failed");
        } else {
            // The program has not read yet; let its notifications run.
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
    }
}

Bytes BusEnd::Read(std::size_t want, int ms) {
    Bytes got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < want && timer.elapsed() < ms) {
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN) != 0) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, want - got.size()));
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
        }
    }
    return got;
}

Bytes BusEnd::ReadFor(int ms) {
    return Read(static_cast<std::size_t>(-1), ms);
}

std::size_t BusEnd::Unread(std::size_t want, int ms) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        int waiting = 0;
        if (ioctl(m_slave, FIONREAD, &waiting) != 0)
            return 0;
        if (std::size_t(waiting) >= want || timer.elapsed() >= ms)
            return std::size_t(waiting);
        QThread::msleep(1);
    }
}

std::size_t BusEnd::FillQueue() {
    const int flags = fcntl(m_slave, F_GETFL);
    fcntl(m_slave, F_SETFL, flags | O_NONBLOCK);
    std::size_t put = 0;
    const std::uint8_t filler[256] = {};
    for (std::size_t size = sizeof filler; size != 0; size /= 2) {
        ssize_t n = 0;
        while ((n = ::write(m_slave, filler, size)) > 0)
            put += static_cast<std::size_t>(n);
    }
    fcntl(m_slave, F_SETFL, flags);
    return put;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void Pump(int ms) {
    WaitUntil([] { return false; }, ms);
}

KelvmonTest::KelvmonTest() {
    EnsureApp();
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("HOME", m_dir.path().toUtf8());
    QDir().mkpath(QString::fromStdString(serial::PortDirectory()));
    for (int n = 1; n <= 19; ++n)
        SetPort(n, m_dir.filePath(QStringLiteral("missing/COM%1").arg(n)).toStdString());
    m_bus = std::make_unique<BusEnd>();
    SetPort(3, m_bus->SlavePath());
    Store(QStringLiteral("Settings\\Ints"), QStringLiteral("m_ActiveComPort"), QStringLiteral("3"));
    g_ProjectFilePath.clear();
    platform::SetMessageBoxResponder([this](const QString& text, const QString&, std::uint32_t) {
        m_boxes.push_back(text);
        return int(platform::IdOk);
    });
}

KelvmonTest::~KelvmonTest() {
    m_app.reset();
    platform::SetMessageBoxResponder({});
    platform::SetFileChooserResponder({});
    QCoreApplication::processEvents();
}

void KelvmonTest::SetPort(int n, const std::string& target) {
    const std::string entry = serial::PortDirectory() + "/COM" + std::to_string(n);
    ::unlink(entry.c_str());
    if (::symlink(target.c_str(), entry.c_str()) != 0)
        throw std::runtime_error("cannot make the port entry " + entry);
}

void KelvmonTest::Store(const QString& section, const QString& key, const QString& value) {
    platform::SettingsStore store(QStringLiteral("kelvmon"));
    ASSERT_TRUE(store.WriteProfileString(section, key, value));
}

std::optional<QString> KelvmonTest::Stored(const QString& section, const QString& key) {
    return platform::SettingsStore(QStringLiteral("kelvmon")).ReadString(section, key);
}

void KelvmonTest::Start(const QStringList& arguments) {
    m_app = std::make_unique<CKelvmonApp>();
    ASSERT_TRUE(m_app->InitInstance(arguments));
    QApplication::setActiveWindow(&Frame());
    QCoreApplication::processEvents();
}

void KelvmonTest::CloseFrame() {
    Frame().close();
    QCoreApplication::processEvents();
}

std::vector<std::string> KelvmonTest::Lines() {
    std::vector<std::string> lines;
    CTrafficList& list = View().TrafficList();
    for (std::int64_t i = 0; i < list.LineCount(); ++i)
        lines.push_back(list.LineText(i));
    return lines;
}

void KelvmonTest::Click(int id) {
    auto* button = View().Item<QAbstractButton>(id);
    ASSERT_NE(button, nullptr) << id;
    button->click();
}

QString KelvmonTest::Text(int id) {
    return platform::GetWindowText(View().GetDlgItem(id));
}

std::string KelvmonTest::ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", b);
        text += cell;
    }
    return text;
}
