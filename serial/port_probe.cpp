#include "serial/port_probe.h"

#include "serial/exclusive_open.h"
#include "serial/port_holders.h"
#include "serial/port_lock.h"
#include "serial/port_names.h"

#include <cerrno>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {
namespace {

// A serial UART whose driver found no hardware reports type 0 (unknown) in sysfs.
bool UartWithoutHardware(const std::string& device) {
    const std::string name = device.substr(device.rfind('/') + 1);
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int value = -1;
    return type >> value && value == 0;
}

} // namespace

std::vector<PortProbe> ProbePorts(const std::vector<std::string>& names,
                                  std::chrono::milliseconds budget) {
    const Deadline deadline = std::chrono::steady_clock::now() + budget;
    std::vector<PortProbe> probes(names.size());
    std::vector<std::string> devices(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::optional<std::string> path = ResolvePortName(names[i]);
        if (path && NetworkPortUrl(*path)) {
            probes[i].state = PortAvailable; // present while its entry exists; nothing to ask
            continue;
        }
        struct stat node {};
        if (!path || stat(path->c_str(), &node) != 0) {
            continue; // PortNotPresent
        }
        if (!S_ISCHR(node.st_mode)) {
            probes[i].state = PortError;
            probes[i].refusal.error = ENOTTY;
            continue;
        }
        const std::string device = RealDevicePath(path->c_str());
        if (UartWithoutHardware(device)) {
            continue;
        }
        PortProbe& probe = probes[i];
        if (access(device.c_str(), R_OK | W_OK) != 0) {
            probe.refusal.error = errno;
            probe.state = errno == EACCES || errno == EPERM ? PortInUse : PortError;
            continue;
        }
        pid_t locker = 0;
        if (CheckLockFile(device, false, probe.refusal) != 0) {
            probe.state = PortInUse;
        } else if (FindFlockHolder(device, locker)) {
            probe.refusal.error = EBUSY;
            probe.refusal.holder = locker != getpid() ? locker : 0;
            probe.state = PortInUse;
        } else {
            probe.state = PortAvailable;
            devices[i] = device; // the holder scan decides
        }
    }
    const std::vector<pid_t> holders = FindHolders(devices, deadline);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (holders[i] != 0) {
            probes[i].state = PortInUse;
            probes[i].refusal.error = EBUSY;
            probes[i].refusal.holder = holders[i];
        }
    }
    return probes;
}

} // namespace serial
