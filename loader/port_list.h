#pragma once
// The COM ports the loader offers: those that the serial library reports free, each with the
// Linux device it stands for.

#include <string>
#include <vector>

inline constexpr int kFirstListedComPort = 1;
inline constexpr int kLastListedComPort = 44;

struct ListedPort {
    int number = 0;     // n of "COMn", the entry's data
    std::string device; // the device that "\\.\COMn" opens, links followed
    std::string byId;   // the adapter's name under /dev/serial/by-id, when it has one
};

// The ports from `first` to `last` whose probe answers "available", in number order.
std::vector<ListedPort> FreeComPorts(int first = kFirstListedComPort,
                                     int last = kLastListedComPort);

// The entry for port n whatever its probe says (the port this program holds open itself).
ListedPort DescribeComPort(int number);
