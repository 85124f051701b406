#include "loader/port_list.h"

#include "serial/port_info.h"
#include "serial/serial.h"

#include <cstdio>

namespace {

std::string ComDeviceName(int number) {
    char device[32];
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", number);
    return device;
}

} // namespace

ListedPort DescribeComPort(int number) {
    const serial::PortInfo info = serial::DescribePort(ComDeviceName(number));
    return {number, info.device, info.byId};
}

std::vector<ListedPort> FreeComPorts(int first, int last) {
    std::vector<ListedPort> ports;
    for (int n = first; n <= last; ++n) {
        if (CSerial::ProbePort(ComDeviceName(n).c_str()) != PortAvailable) {
            continue; // not present, in use or failing
        }
        ports.push_back(DescribeComPort(n));
    }
    return ports;
}
