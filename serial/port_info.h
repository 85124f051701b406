#pragma once
// What a user needs to tell ports apart: the device behind a port name and, for USB adapters,
// their name under /dev/serial/by-id (maker, model and serial number).

#include <string>

namespace serial {

// The folder of the adapters' names, /dev/serial/by-id unless a test has chosen another.
std::string ByIdDirectory();
void SetByIdDirectoryForTests(const std::string& directory);

struct PortInfo {
    std::string device; // the device that the name opens, links followed, or a network URL
    std::string byId;   // its entry in the by-id folder, empty when there is none
};

// The device behind a COM name or path; both fields empty when the name resolves to nothing.
PortInfo DescribePort(const std::string& name);

// The text of a port's tooltip: the device, then its by-id name on a line of its own, then
// `reason` (why it could not be opened) on a line of its own when it is not empty.
std::string PortTooltip(const PortInfo& info, const std::string& reason = {});

} // namespace serial
