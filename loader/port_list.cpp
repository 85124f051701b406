#include "loader/port_list.h"

#include "serial/port_names.h"
#include "serial/serial.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

std::string DeviceBehind(const std::string& path) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? path : target.string();
}

} // namespace

std::vector<ListedPort> FreeComPorts(int first, int last) {
    std::vector<ListedPort> ports;
    for (int n = first; n <= last; ++n) {
        char device[32];
        std::snprintf(device, sizeof device, "\\\\.\\COM%d", n);
        if (CSerial::ProbePort(device) != PortAvailable) {
            continue; // not present, in use or failing
        }
        const std::optional<std::string> path = serial::ResolvePortName(device);
        ports.push_back({n, path ? DeviceBehind(*path) : std::string()});
    }
    return ports;
}
