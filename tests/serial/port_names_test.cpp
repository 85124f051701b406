#include "serial/port_names.h"
#include "tests/serial/pty_pair.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using serial::AddNetworkPortEntry;
using serial::ComPortNumber;
using serial::NetworkPort;
using serial::NetworkPortUrl;
using serial::ParsePortUrl;
using serial::PortDirectory;
using serial::ResolvePortName;
using serialtest::AddPortEntry;
using serialtest::UsePrivateConfigHome;

namespace {

// A private settings home for one test, removed with everything in it at the end.
struct PrivateHome {
    PrivateHome() : path(UsePrivateConfigHome()) {}
    ~PrivateHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    const std::string path;
};

} // namespace

TEST(PortNames, ComNumbersInBothSpellingsAndNothingElse) {
    EXPECT_EQ(ComPortNumber("\\\\.\\COM7"), 7);
    EXPECT_EQ(ComPortNumber("COM12"), 12);
    EXPECT_EQ(ComPortNumber("com3"), 3);
    EXPECT_EQ(ComPortNumber("COM9999"), 9999);
    for (const char* other : {"COM", "COM0", "COM07", "COM1a", "COM10000", "\\\\.\\", "/dev/ttyS0",
                              "xCOM1", "\\\\?\\COM1", "COM-1"}) {
        EXPECT_EQ(ComPortNumber(other), 0) << other;
    }
}

TEST(PortNames, BuiltInTableAtItsBoundaries) {
    const PrivateHome home;
    EXPECT_EQ(ResolvePortName("\\\\.\\COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("COM4"), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortName("COM5"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortName("COM12"), "/dev/ttyUSB7");
    EXPECT_EQ(ResolvePortName("COM13"), "/dev/ttyACM0");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM19"), "/dev/ttyACM6");
    EXPECT_EQ(ResolvePortName("COM20"), std::nullopt);
    EXPECT_EQ(ResolvePortName("COM44"), std::nullopt);
}

TEST(PortNames, UserEntryComesFirstAndOtherNamesStayPaths) {
    const PrivateHome privateHome;
    const std::string& home = privateHome.path;
    EXPECT_EQ(PortDirectory(), home + "/Kestrom/ports");
    AddPortEntry("COM3", "/dev/pts/somewhere");
    AddPortEntry("COM40", "/dev/pts/elsewhere");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM3"), home + "/Kestrom/ports/COM3");
    EXPECT_EQ(ResolvePortName("COM40"), home + "/Kestrom/ports/COM40");
    EXPECT_EQ(ResolvePortName("/dev/ttyXYZ"), "/dev/ttyXYZ");
    EXPECT_EQ(ResolvePortName("COM0"), "COM0");
}

TEST(PortNames, DefaultDirectoryIsUnderHome) {
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(PortDirectory(), "/home/someone/.config/Kestrom/ports");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1); // not absolute: ignored
    EXPECT_EQ(PortDirectory(), "/home/someone/.config/Kestrom/ports");
}

TEST(PortNames, NetworkUrlsAndTheEntriesThatHoldThem) {
    const std::optional<NetworkPort> telnet = ParsePortUrl("RFC2217://bus-server.local:4001");
    ASSERT_TRUE(telnet);
    EXPECT_TRUE(telnet->telnet);
    EXPECT_EQ(telnet->host, "bus-server.local");
    EXPECT_EQ(telnet->port, 4001);
    const std::optional<NetworkPort> raw = ParsePortUrl("socket://[fe80::1%eth0]:65535");
    ASSERT_TRUE(raw);
    EXPECT_FALSE(raw->telnet);
    EXPECT_EQ(raw->host, "fe80::1%eth0");
    for (const char* bad :
         {"rfc2217://host", "rfc2217://host:0", "rfc2217://host:65536", "socket://:80",
          "socket://fe80::1:80", "socket://h/x:80", "telnet://host:23", "rfc2217://host:80 "}) {
        EXPECT_FALSE(ParsePortUrl(bad)) << bad;
    }

    const PrivateHome privateHome;
    std::string error;
    ASSERT_TRUE(AddNetworkPortEntry(9, "socket://10.0.0.7:4002", error)) << error;
    const std::optional<std::string> path = ResolvePortName("COM9");
    ASSERT_TRUE(path);
    EXPECT_EQ(NetworkPortUrl(*path), "socket://10.0.0.7:4002");
    ASSERT_TRUE(AddNetworkPortEntry(9, "rfc2217://10.0.0.7:4001", error)) << error; // replaced
    EXPECT_EQ(NetworkPortUrl(*path), "rfc2217://10.0.0.7:4001");
    EXPECT_FALSE(AddNetworkPortEntry(9, "ftp://10.0.0.7:21", error));
    AddPortEntry("COM10", "/dev/ttyUSB0");
    EXPECT_FALSE(AddNetworkPortEntry(10, "rfc2217://10.0.0.7:4001", error));
    EXPECT_NE(error.find("not a network port"), std::string::npos) << error;
    EXPECT_FALSE(NetworkPortUrl(PortDirectory() + "/COM10")); // a link stays a device
}
