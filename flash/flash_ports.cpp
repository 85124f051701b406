// The ports that exist and who holds them, and the wait for a port that is plugged in late.

#include "flash/flash_commands.h"
#include "flash/flash_output.h"
#include "flash/flash_signals.h"
#include "serial/port_failure.h"
#include "serial/port_names.h"
#include "serial/port_probe.h"
#include "serial/serial.h"

#include <QJsonObject>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 44;
constexpr auto kWaitStep = std::chrono::milliseconds(100);

struct Holding {
    std::string state; // "free", "busy", "no permission", "failing", "network"
    pid_t holder = 0;
    std::string detail;
};

// Found out without opening the port, as its open would reset some boards.
Holding HoldingOf(const std::string& name) {
    const serial::PortProbe probe = serial::ProbePorts({name}).front();
    const serial::PortRefusal& refusal = probe.refusal;
    switch (probe.state) {
    case PortAvailable:
        return {"free", 0, {}};
    case PortInUse:
        if (refusal.holder != 0) {
            return {"busy", refusal.holder, {}};
        }
        if (refusal.error == EACCES || refusal.error == EPERM) {
            return {"no permission", 0, serial::PortFailureText(EACCES)};
        }
        return {"busy", 0, serial::PortFailureText(refusal.error)};
    case PortNotPresent:
        return {"missing", 0, {}};
    default:
        return {"failing", 0, std::strerror(refusal.error)};
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
        const Holding state = network ? Holding{"network", 0, {}} : HoldingOf(name);
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
                state = HoldingOf(port.name);
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
