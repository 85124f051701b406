#include "serial/port_info.h"

#include "serial/port_names.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace serial {
namespace {

std::mutex directoryMutex;
std::string chosenDirectory;

std::string Canonical(const std::string& path) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? std::string() : target.string();
}

} // namespace

std::string ByIdDirectory() {
    std::lock_guard lock(directoryMutex);
    return chosenDirectory.empty() ? std::string("/dev/serial/by-id") : chosenDirectory;
}

void SetByIdDirectoryForTests(const std::string& directory) {
    std::lock_guard lock(directoryMutex);
    chosenDirectory = directory;
}

PortInfo DescribePort(const std::string& name) {
    PortInfo info;
    const std::optional<std::string> path = ResolvePortName(name);
    if (!path) {
        return info;
    }
    if (std::optional<std::string> url = NetworkPortUrl(*path)) {
        info.device = std::move(*url);
        return info;
    }
    info.device = Canonical(*path);
    if (info.device.empty()) {
        info.device = *path; // a dangling entry still names where it points
        return info;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ByIdDirectory(), error)) {
        if (Canonical(entry.path().string()) == info.device) {
            info.byId = entry.path().filename().string();
            break;
        }
    }
    return info;
}

std::string PortTooltip(const PortInfo& info, const std::string& reason) {
    std::string text = info.device;
    for (const std::string* line : {&info.byId, &reason}) {
        if (!line->empty()) {
            text += (text.empty() ? "" : "\n") + *line;
        }
    }
    return text;
}

} // namespace serial
