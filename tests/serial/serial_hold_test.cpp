// Ports held by programs that use neither flock nor TIOCEXCL, lock files, and the reason behind
// an access failure.
#include "serial/port_failure.h"
#include "serial/port_lock.h"
#include "tests/serial/plain_holder.h"
#include "tests/serial/serial_test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using serialtest::SerialTest;

namespace {

// The PID of a process that has ended.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

void WriteLock(const std::string& path, const std::string& content) {
    std::ofstream(path) << content;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string PidText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

class LockedPortTest : public SerialTest {
protected:
    void SetUp() override {
        SerialTest::SetUp();
        lockFolder = configHome + "/lock";
        mkdir(lockFolder.c_str(), 0755);
        serial::SetLockDirectoryForTests(lockFolder);
        lockFile = serial::LockFilePath(line.Path());
    }
    void TearDown() override {
        serial::SetLockDirectoryForTests("");
        SerialTest::TearDown();
    }
    std::string lockFolder;
    std::string lockFile;
};

} // namespace

TEST_F(SerialTest, PortOpenedPlainlyByAnotherProcessIsInUse) {
    PlainHolder holder(line.Path());
    ASSERT_TRUE(holder.Holding());
    int reason = 0;
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason), PortInUse);
    EXPECT_EQ(reason, EBUSY);
    CSerial port;
    EXPECT_EQ(port.Open(line.Path().c_str()), SerialErrAccessDenied);
    EXPECT_EQ(port.GetLastOpenReason(), EBUSY);
    EXPECT_STREQ(serial::PortFailureText(port.GetLastOpenReason()), "in use by another program");
    EXPECT_FALSE(port.IsOpen());
    holder.Release();
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason), PortAvailable);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_EQ(port.GetLastOpenReason(), 0);
}

TEST_F(LockedPortTest, LockFileIsTakenHonouredAndStaleOnesRemoved) {
    EXPECT_EQ(lockFile, lockFolder + "/LCK.." + line.Path().substr(5).replace(3, 1, "_"));
    {
        CSerial port;
        ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
        EXPECT_EQ(ReadAll(lockFile), PidText(getpid()));
        port.Close();
        EXPECT_NE(access(lockFile.c_str(), F_OK), 0) << "the lock goes with the port";
    }

    // A live process (init) holds the lock.
    WriteLock(lockFile, PidText(1));
    int reason = 0;
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason), PortInUse);
    EXPECT_EQ(reason, EBUSY);
    CSerial port;
    EXPECT_EQ(port.Open(line.Path().c_str()), SerialErrAccessDenied);
    EXPECT_EQ(port.GetLastOpenReason(), EBUSY);
    EXPECT_EQ(ReadAll(lockFile), PidText(1)) << "another's lock is left alone";

    // The lock of a process that has ended is stale: it goes and ours takes its place.
    WriteLock(lockFile, PidText(DeadPid()));
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_EQ(ReadAll(lockFile), PidText(getpid()));
    port.Close();

    // Where the lock folder cannot be written, the port opens without a lock file.
    serial::SetLockDirectoryForTests(lockFolder + "/missing");
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_NE(access((lockFolder + "/missing").c_str(), F_OK), 0);
}

// Run as `nobody` by the test below; skipped when run by itself.
TEST(PortReason, ProbeAndOpenAsThisUser) {
    const char* device = std::getenv("SERIAL_TEST_FORBIDDEN_DEVICE");
    if (device == nullptr) {
        GTEST_SKIP() << "only run by NoPermissionIsToldApartFromInUse";
    }
    int reason = 0;
    EXPECT_EQ(CSerial::ProbePort(device, &reason), PortInUse);
    EXPECT_EQ(reason, EACCES);
    CSerial port;
    EXPECT_EQ(port.Open(device), SerialErrAccessDenied);
    EXPECT_EQ(port.GetLastOpenReason(), EACCES);
    EXPECT_STREQ(serial::PortFailureText(port.GetLastOpenReason()),
                 "no permission: join the dialout group");
}

TEST_F(SerialTest, NoPermissionIsToldApartFromInUse) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run the check as the unprivileged user nobody";
    }
    if (access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs setpriv (util-linux) to run the check as nobody";
    }
    struct stat device {};
    ASSERT_EQ(stat(line.Path().c_str(), &device), 0);
    ASSERT_EQ(device.st_mode & S_IROTH, 0u) << "the device must be closed to others";
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    const std::string command = "SERIAL_TEST_FORBIDDEN_DEVICE=" + line.Path() +
                                " /usr/bin/setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                                self +
                                " --gtest_filter=PortReason.ProbeAndOpenAsThisUser > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
