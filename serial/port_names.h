#pragma once
// Device names of serial ports.
//
// The programs name a port "\\.\COMn" (or "COMn"). On Linux such a name resolves, in this order:
//  1. the per-user entry $XDG_CONFIG_HOME/Kestrom/ports/COMn (~/.config/Kestrom/ports/COMn when
//     the variable is unset or not absolute), normally a symlink to the device, or a regular
//     file holding one URL of a port on the network ("rfc2217://host:port", "socket://host:port");
//  2. the built-in table: COM1-COM4 = /dev/ttyS0-3, COM5-COM12 = /dev/ttyUSB0-7,
//     COM13-COM19 = /dev/ttyACM0-6.
// Any other COM number is not present. Any name that is not a COM name is a path as it stands,
// or a URL as above.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace serial {

// The directory that holds the per-user port entries. Read from the environment on every call.
std::string PortDirectory();

// The port number n of "\\.\COMn" or "COMn" ("COM" in any case, n from 1 to 9999 without
// leading zeros); 0 when the name is not such a name.
int ComPortNumber(std::string_view name);

// The device name "\\.\COMn" of port number n.
std::string ComDeviceName(int number);

// The path to open for a device name, or nothing when the COM port does not exist. For a port
// on the network this is its entry or the URL itself.
std::optional<std::string> ResolvePortName(std::string_view name);

// A port on the network: RFC 2217 (Telnet with remote line settings) or a raw TCP stream.
struct NetworkPort {
    bool telnet = true;
    std::string host; // a name, or an address (IPv6 without its brackets)
    std::uint16_t port = 0;
};

// Parses "rfc2217://host:port" or "socket://host:port" (scheme in any case; an IPv6 address in
// brackets; port 1-65535); nothing for any other text.
std::optional<NetworkPort> ParsePortUrl(std::string_view url);

// Makes the per-user entry COMn a file holding `url` (which must parse), replacing an entry that
// holds a URL already but no other (a link to a device is the user's own). Returns false with
// `error` saying why.
bool AddNetworkPortEntry(int number, const std::string& url, std::string& error);

// The URL that a resolved path stands for: the path itself when it is one, or the first line of
// a port entry that is a regular file (surrounding blanks ignored); nothing otherwise.
std::optional<std::string> NetworkPortUrl(const std::string& path);

} // namespace serial
