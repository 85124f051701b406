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
};

// The ports from `first` to `last` whose probe answers "available", in number order.
std::vector<ListedPort> FreeComPorts(int first = kFirstListedComPort,
                                     int last = kLastListedComPort);
