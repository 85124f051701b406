#include "loader/port_list.h"

#include "serial/port_info.h"
#include "serial/port_names.h"

ListedPort DescribeComPort(int number) {
    const serial::PortInfo info = serial::DescribePort(serial::ComDeviceName(number));
    return {number, info.device, info.byId};
}

std::vector<std::string> ListedComNames() {
    std::vector<std::string> names;
    for (int n = kFirstListedComPort; n <= kLastListedComPort; ++n) {
        names.push_back(serial::ComDeviceName(n));
    }
    return names;
}

std::vector<ListedPort> FreeComPorts(const serial::PortSurvey::Result& survey, int ours) {
    std::vector<ListedPort> ports;
    for (std::size_t i = 0; i < survey.size(); ++i) {
        const int number = kFirstListedComPort + static_cast<int>(i);
        const PortState state = survey[i].probe.state;
        // Missing, in use or failing ports are not offered; our own open port is still there.
        if (state == PortAvailable || (number == ours && state != PortNotPresent)) {
            ports.push_back({number, survey[i].info.device, survey[i].info.byId});
        } else if (number == ours) {
            ports.push_back(DescribeComPort(number));
        }
    }
    if (ours > kLastListedComPort) {
        ports.push_back(DescribeComPort(ours));
    }
    return ports;
}
