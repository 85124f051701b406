#include "loader/port_list.h"

#include "serial/port_info.h"
#include "serial/port_names.h"
#include "serial/serial.h"

ListedPort DescribeComPort(int number) {
    const serial::PortInfo info = serial::DescribePort(serial::ComDeviceName(number));
    return {number, info.device, info.byId};
}

std::vector<ListedPort> FreeComPorts(int first, int last) {
    std::vector<ListedPort> ports;
    for (int n = first; n <= last; ++n) {
        if (CSerial::ProbePort(serial::ComDeviceName(n).c_str()) != PortAvailable) {
            continue; // not present, in use or failing
        }
        ports.push_back(DescribeComPort(n));
    }
    return ports;
}
