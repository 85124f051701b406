#pragma once
// The COM ports the loader offers: those that a port survey reports free, each with the Linux
// device it stands for.

#include "serial/port_survey.h"

#include <string>
#include <vector>

inline constexpr int kFirstListedComPort = 1;
inline constexpr int kLastListedComPort = 44;

struct ListedPort {
    int number = 0;     // n of "COMn", the entry's data
    std::string device; // the device that "\\.\COMn" opens, links followed
    std::string byId;   // the adapter's name under /dev/serial/by-id, when it has one
};

// The names of the ports from kFirstListedComPort to kLastListedComPort, to be surveyed.
std::vector<std::string> ListedComNames();

// The surveyed ports (of ListedComNames) that are available, and port `ours` (which this
// program holds open itself, so probes as in use) whatever its probe says, in number order.
std::vector<ListedPort> FreeComPorts(const serial::PortSurvey::Result& survey, int ours = 0);

// The entry for port n whatever its probe says.
ListedPort DescribeComPort(int number);
