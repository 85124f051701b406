#include "flash/flash_link.h"

#include "loader/loader_settings.h"
#include "serial/port_failure.h"
#include "serial/port_names.h"
#include "serial/serial_wnd.h"

#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kPollMs = 50;
constexpr int kDefaultRateIndex = 2; // 16457, kelvload's own default
constexpr const char* kStoredSource = "kelvload's settings";

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

} // namespace

bool ChoosePorts(const FlashOptions& options, std::vector<PortChoice>& ports, RateChoice& rate,
                 std::string& error) {
    const StoredLoaderLink stored =
        options.noStoredSettings ? StoredLoaderLink{} : LoadStoredLoaderLink();
    ports.clear();
    for (const std::string& port : options.ports) {
        ports.push_back({port, "--port"});
    }
    if (ports.empty()) {
        if (const std::optional<std::string> port = Environment("TRAKBUS_PORT")) {
            ports.push_back({*port, "TRAKBUS_PORT"});
        } else if (stored.comPort) {
            ports.push_back({"COM" + std::to_string(*stored.comPort), kStoredSource});
        } else {
            error = "no port given: use --port";
            return false;
        }
    }
    if (options.rateIndex) {
        rate = {*options.rateIndex, "--rate"};
    } else if (const std::optional<std::string> text = Environment("TRAKBUS_RATE")) {
        const std::optional<int> index = ParseBitRate(*text);
        if (!index) {
            error = "TRAKBUS_RATE " + *text + " is not one of the loader's bit rates";
            return false;
        }
        rate = {*index, "TRAKBUS_RATE"};
    } else if (stored.bitRate) {
        rate = {*stored.bitRate, kStoredSource};
    } else {
        rate = {kDefaultRateIndex, "the default"};
    }
    return true;
}

std::string DescribeChoice(const PortChoice& port, const RateChoice& rate) {
    const serial::PortInfo info = serial::DescribePort(port.name);
    std::string text = "port " + port.name;
    if (!info.device.empty() && info.device != port.name) {
        text += " = " + info.device;
    }
    if (!info.byId.empty()) {
        text += " (" + info.byId + ")";
    }
    return text + " from " + port.source + ", " + std::to_string(kBitRates[rate.index]) +
           " bit/s from " + rate.source;
}

CFlashLink::CFlashLink(const PortChoice& port, const RateChoice& rate, int verbose)
    : m_watch(port.name, verbose), m_port(port) {
    m_doc.m_PortName = port.name;
    m_doc.m_BitRate = rate.index;
    m_doc.m_pObserver = &m_watch;
    m_notify.MapMessage(
        CSerialWnd::defaultComMessage,
        [this](platform::WParam w, platform::LParam) { m_doc.HandleSerialEvent(w); });
}

CFlashLink::~CFlashLink() {
    m_doc.ClosePort();
    m_doc.m_pObserver = nullptr;
}

std::uint32_t CFlashLink::BitRate() const {
    return kBitRates[m_doc.m_BitRate];
}

bool CFlashLink::PortPresent() const {
    const std::optional<std::string> path = serial::ResolvePortName(m_port.name);
    return path && (access(path->c_str(), F_OK) == 0 || serial::NetworkPortUrl(*path));
}

bool CFlashLink::OpenPort() {
    m_doc.OpenPort(&m_notify);
    return m_doc.IsPortOpen();
}

std::string CFlashLink::PortProblem() const {
    const std::string port = "port " + m_port.name;
    const std::int32_t error = m_doc.m_serial.GetLastError();
    if (!PortPresent() || error == SerialErrFileNotFound) {
        return port + " is missing";
    }
    const int reason = m_doc.m_serial.GetLastOpenReason();
    if (error == SerialErrAccessDenied) {
        const char* text = serial::PortFailureText(reason);
        return port + ": " + (text != nullptr ? text : std::strerror(reason));
    }
    if ((error & SerialErrnoBase) != 0) {
        return port + " failed: " + std::strerror(error & ~SerialErrnoBase);
    }
    if (reason != 0) {
        return port + " failed: " + std::strerror(reason);
    }
    return port + " failed (serial error " + std::to_string(error) + ")";
}

bool CFlashLink::PortLost() const {
    const std::int32_t error = m_doc.m_serial.GetLastError();
    return !PortPresent() || error == SerialErrFileNotFound || error == (SerialErrnoBase | EIO) ||
           error == (SerialErrnoBase | ENODEV) || error == (SerialErrnoBase | ENXIO);
}

void RunEvents(int ms, const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done && done()) {
            loop.quit();
        }
    });
    poll.start(kPollMs);
    if (ms >= 0) {
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    }
    loop.exec();
}
