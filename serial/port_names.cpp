#include "serial/port_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::optional<NetworkPort> ParsePortUrl(std::string_view url) {
    NetworkPort port;
    if (StartsWithNoCase(url, "rfc2217://")) {
        url.remove_prefix(10);
    } else if (StartsWithNoCase(url, "socket://")) {
        url.remove_prefix(9);
        port.telnet = false;
    } else {
        return std::nullopt;
    }
    std::string_view host;
    std::string_view number;
    if (url.starts_with('[')) {
        const std::size_t close = url.find(']');
        if (close == std::string_view::npos || url.substr(close + 1, 1) != ":") {
            return std::nullopt;
        }
        host = url.substr(1, close - 1);
        number = url.substr(close + 2);
    } else {
        const std::size_t colon = url.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        host = url.substr(0, colon);
        number = url.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return std::nullopt; // an IPv6 address needs its brackets
        }
    }
    const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
               c == '_' || c == '%';
    });
    unsigned value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (!hostOk || number.empty() || error != std::errc{} || end != number.data() + number.size() ||
        value == 0 || value > 65535) {
        return std::nullopt;
    }
    port.host = std::string(host);
    port.port = static_cast<std::uint16_t>(value);
    return port;
}

std::optional<std::string> NetworkPortUrl(const std::string& path) {
    if (ParsePortUrl(path)) {
        return path;
    }
    struct stat info {};
    // An entry is a few dozen bytes; anything big is not one.
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > 1024) {
        return std::nullopt;
    }
    std::ifstream entry(path);
    std::string line;
    if (!std::getline(entry, line)) {
        return std::nullopt;
    }
    const std::string url(Trimmed(line));
    return ParsePortUrl(url) ? std::optional<std::string>(url) : std::nullopt;
}

bool AddNetworkPortEntry(int number, const std::string& url, std::string& error) {
    if (!ParsePortUrl(url)) {
        error = url + " is not a port URL (rfc2217://host:port or socket://host:port)";
        return false;
    }
    const std::string directory = PortDirectory();
    const std::string entry = directory + "/COM" + std::to_string(number);
    struct stat info {};
    if (lstat(entry.c_str(), &info) == 0 && !NetworkPortUrl(entry)) {
        error = entry + " exists already and is not a network port: remove it first";
        return false;
    }
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    // Written beside the entry and renamed over it, so that no program reads half a URL.
    const std::string written = entry + ".new";
    {
        std::ofstream out(written, std::ios::trunc);
        out << url << "\n";
        if (!out.flush()) {
            error = "cannot write " + written;
            std::filesystem::remove(written, ignored);
            return false;
        }
    }
    if (std::rename(written.c_str(), entry.c_str()) != 0) {
        error = "cannot write " + entry + ": " + std::strerror(errno);
        std::filesystem::remove(written, ignored);
        return false;
    }
    return true;
}

std::string ComDeviceName(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

} // namespace serial
