// The ports that exist and who holds them, and the wait for a port that is plugged in late.

#include "flash/flash_commands.h"
#include "flash/flash_output.h"
#include "flash/flash_signals.h"
#include "serial/port_failure.h"
#include "serial/port_lock.h"
#include "serial/port_names.h"
#include "serial/serial.h"

#include <QJsonObject>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 44;
constexpr auto kWaitStep = std::chrono::milliseconds(100);

// The PID in a lock file, when a live process wrote it.
pid_t LockHolder(const std::string& device) {
    std::ifstream file(serial::LockFilePath(device));
    long pid = 0;
    if (!(file >> pid) || pid <= 0) {
        return 0;
    }
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? static_cast<pid_t>(pid) : 0;
}

// A process other than this one that has the device open, as far as /proc lets us see.
pid_t OpenerOf(const std::string& device) {
    struct stat target {};
    if (stat(device.c_str(), &target) != 0) {
        return 0;
    }
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename().string();
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
        if (pid <= 0 || pid == getpid()) {
            continue;
        }
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            struct stat opened {};
            if (stat(fd.path().c_str(), &opened) == 0 && S_ISCHR(opened.st_mode) &&
                opened.st_rdev == target.st_rdev) {
                return pid;
            }
        }
    }
    return 0;
}

struct Holding {
    std::string state; // "free", "busy", "no permission", "failing", "network"
    pid_t holder = 0;
    std::string detail;
};

Holding HoldingOf(const std::string& name, const std::string& device) {
    if (pid_t pid = LockHolder(device); pid != 0) {
        return {"busy", pid, "lock file " + serial::LockFilePath(device)};
    }
    if (pid_t pid = OpenerOf(device); pid != 0) {
        return {"busy", pid, "open in process " + std::to_string(pid)};
    }
    if (access(device.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        return {"no permission", 0, serial::PortFailureText(EACCES)};
    }
    int reason = 0;
    switch (CSerial::ProbePort(name.c_str(), &reason)) {
    case PortAvailable:
        return {"free", 0, {}};
    case PortInUse:
        if (serial::PortIsBusy(reason)) {
            return {"busy", 0, serial::PortFailureText(reason)};
        }
        return {"no permission", 0, serial::PortFailureText(EACCES)};
    case PortNotPresent:
        return {"missing", 0, {}};
    default:
        return {"failing", 0, std::strerror(reason)};
    }
}

} // namespace

int RunListPorts(const FlashOptions& options) {
    int listed = 0;
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const serial::PortInfo info = serial::DescribePort(name);
        // A port on the network is listed as it is: probing it would connect to it.
        const bool network = serial::ParsePortUrl(info.device).has_value();
        if (info.device.empty() || (!network && access(info.device.c_str(), F_OK) != 0)) {
            continue;
        }
        const Holding state = network ? Holding{"network", 0, {}} : HoldingOf(name, info.device);
        if (state.state == "missing") {
            continue;
        }
        ++listed;
        if (options.json) {
            QJsonObject object{{QStringLiteral("port"), QString::fromStdString(name)},
                               {QStringLiteral("device"), QString::fromStdString(info.device)},
                               {QStringLiteral("byId"), QString::fromStdString(info.byId)},
                               {QStringLiteral("state"), QString::fromStdString(state.state)}};
            if (state.holder != 0) {
                object.insert(QStringLiteral("pid"), static_cast<qint64>(state.holder));
            }
            PrintJson(object);
            continue;
        }
        std::string line = name + "  " + info.device + "  " +
                           (info.byId.empty() ? std::string("-") : info.byId) + "  " + state.state;
        if (state.holder != 0) {
            line += " (PID " + std::to_string(state.holder) + ")";
        } else if (!state.detail.empty() && state.state != "no permission") {
            line += " (" + state.detail + ")";
        }
        PrintLine(line);
    }
    if (listed == 0 && !options.json) {
        Say("no port from COM" + std::to_string(kFirstPort) + " to COM" +
            std::to_string(kLastPort) + " exists");
    }
    return ExitDone;
}

int RunAddPort(const FlashOptions& options) {
    std::string error;
    if (!serial::AddNetworkPortEntry(options.addPortNumber, options.addPortUrl, error)) {
        Say(error);
        return ExitPortFailed;
    }
    if (!options.quiet) {
        Say("COM" + std::to_string(options.addPortNumber) + " is now " + options.addPortUrl);
    }
    return ExitDone;
}

int WaitForPorts(const std::vector<PortChoice>& ports, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (const PortChoice& port : ports) {
        for (;;) {
            const std::optional<std::string> path = serial::ResolvePortName(port.name);
            Holding state{"missing", 0, {}};
            if (path && serial::NetworkPortUrl(*path)) {
                break; // its server is asked when the port opens
            }
            if (path && access(path->c_str(), F_OK) == 0) {
                state = HoldingOf(port.name, *path);
            }
            if (state.state == "free") {
                break;
            }
            if (StopRequested()) {
                Say("stopped while waiting for port " + port.name);
                return ExitProgrammingFailed;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                std::string why = state.state;
                if (state.holder != 0) {
                    why += " (PID " + std::to_string(state.holder) + ")";
                }
                Say("port " + port.name + " is still " + why + " after " + std::to_string(seconds) +
                    " s");
                return ExitPortFailed;
            }
            std::this_thread::sleep_for(kWaitStep);
        }
    }
    return ExitDone;
}
