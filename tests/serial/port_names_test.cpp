#include "serial/port_names.h"
#include "tests/serial/pty_pair.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using serial::ComPortNumber;
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
