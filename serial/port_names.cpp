#include "serial/port_names.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {
namespace {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

std::string ConfigDirectory() {
    // Relative values are invalid by the XDG rules and are ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return config;
    }
    return HomeDirectory() + "/.config";
}

std::optional<std::string> BuiltInDevice(int number) {
    if (number >= 1 && number <= 4) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    if (number >= 5 && number <= 12) {
        return "/dev/ttyUSB" + std::to_string(number - 5);
    }
    if (number >= 13 && number <= 19) {
        return "/dev/ttyACM" + std::to_string(number - 13);
    }
    return std::nullopt;
}

} // namespace

std::string PortDirectory() {
    return ConfigDirectory() + "/Kestrom/ports";
}

int ComPortNumber(std::string_view name) {
    constexpr std::string_view devicePrefix = "\\\\.\\";
    if (name.starts_with(devicePrefix)) {
        name.remove_prefix(devicePrefix.size());
    }
    if (name.size() < 4 || name.size() > 7) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if ((name[i] | 0x20) != "com"[i]) {
            return 0;
        }
    }
    if (name[3] == '0') {
        return 0;
    }
    int number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

std::optional<std::string> ResolvePortName(std::string_view name) {
    const int number = ComPortNumber(name);
    if (number == 0) {
        return std::string(name);
    }
    std::string entry = PortDirectory() + "/COM" + std::to_string(number);
    struct stat info {};
    if (lstat(entry.c_str(), &info) == 0) {
        return entry;
    }
    return BuiltInDevice(number);
}

std::string ComDeviceName(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

} // namespace serial
