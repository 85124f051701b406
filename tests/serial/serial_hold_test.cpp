// Ports held by programs that use neither flock nor TIOCEXCL, lock files, and the reason behind
// an access failure.
#include "serial/port_failure.h"
#include "serial/port_holders.h"
#include "serial/port_lock.h"
#include "tests/serial/plain_holder.h"
#include "tests/serial/serial_test_support.h"
#include "tests/support/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
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

// What another program finds on the terminal: its settings and whether it is exclusive. The
// flag is read as root would see it, and as a refused open when TIOCEXCL keeps us out.
struct TtyState {
    bool readable = false;
    bool exclusive = false;
    termios settings{};
    bool operator==(const TtyState& other) const {
        return readable == other.readable && exclusive == other.exclusive &&
               std::memcmp(&settings, &other.settings, sizeof settings) == 0;
    }
};

TtyState ReadTtyState(const std::string& path) {
    TtyState state;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        state.exclusive = errno == EBUSY;
        return state;
    }
    int exclusive = 0;
    state.exclusive = ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    state.readable = tcgetattr(fd, &state.settings) == 0;
    close(fd);
    return state;
}

bool WriteTtySettings(const std::string& path, const termios& settings) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool written = fd >= 0 && tcsetattr(fd, TCSANOW, &settings) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return written;
}

// This test program run as the unprivileged user nobody.
std::string AsNobody() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    self[length > 0 ? length : 0] = '\0';
    return std::string("/usr/bin/setpriv --reuid=nobody --regid=nogroup --clear-groups ") + self;
}

int RunQuietly(const std::string& command) {
    return std::system((command + " > /dev/null").c_str());
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

TEST_F(LockedPortTest, APlainHolderIsRefusedWithThePortLeftAsFoundWhichCloseRestoresToo) {
    // A cooked 9600 bit/s terminal, as another program may leave it.
    const TtyState found = ReadTtyState(line.Path());
    ASSERT_TRUE(found.readable);
    ASSERT_NE(found.settings.c_lflag & ICANON, 0u);
    termios cooked = found.settings;
    cfsetspeed(&cooked, B9600);
    ASSERT_TRUE(WriteTtySettings(line.Path(), cooked));
    const TtyState before = ReadTtyState(line.Path());

    PlainHolder holder(line.Path());
    ASSERT_TRUE(holder.Holding());
    int reason = 0;
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason), PortInUse);
    EXPECT_EQ(reason, EBUSY);
    CSerial port;
    EXPECT_EQ(port.Open(line.Path().c_str()), SerialErrAccessDenied);
    EXPECT_EQ(port.GetLastOpenReason(), EBUSY);
    const serial::PortRefusal refusal = port.GetLastRefusal();
    EXPECT_EQ(refusal.holder, holder.Pid());
    const std::string text = serial::RefusalText(refusal);
    EXPECT_TRUE(text.starts_with("in use by another program (")) << text;
    EXPECT_TRUE(text.ends_with("process " + std::to_string(holder.Pid()) + ")")) << text;
    EXPECT_FALSE(port.IsOpen());
    // Nothing was taken: no exclusive flag, no lock file, the settings untouched.
    EXPECT_EQ(ReadTtyState(line.Path()), before);
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0);

    holder.Release();
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason), PortAvailable);
    EXPECT_EQ(reason, 0);
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_EQ(port.GetLastOpenReason(), 0);
    ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
    const TtyState held = ReadTtyState(line.Path());
    EXPECT_TRUE(held.exclusive);
    EXPECT_EQ(held.settings.c_lflag & ICANON, 0u) << "raw while ours";
    port.Close();
    EXPECT_EQ(ReadTtyState(line.Path()), before) << "given back as it was found";
}

TEST_F(LockedPortTest, LockFilesAreKeptAsTheUsualTerminalProgramsKeepThem) {
    EXPECT_EQ(lockFile, lockFolder + "/LCK.." + line.Path().substr(5).replace(3, 1, "_"));
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_EQ(ReadAll(lockFile), PidText(getpid()));
    port.Close();
    EXPECT_NE(access(lockFile.c_str(), F_OK), 0) << "the lock goes with the port";

    struct Case {
        std::string content;
        std::string text; // the refusal, empty when the port opens
    };
    const pid_t dead = DeadPid();
    const std::string named = "(" + serial::ProcessName(1) + ", process 1, lock file ";
    const std::vector<Case> cases = {
        {PidText(1), "in use by another program " + named + lockFile + ")"},
        {"", "lock file " + lockFile + " names no process: remove it if no program uses the port"},
        {"garbage\n",
         "lock file " + lockFile + " names no process: remove it if no program uses the port"},
        {PidText(dead), ""}, // stale: removed, and ours takes its place
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("lock file holding \"" + c.content + "\"");
        WriteLock(lockFile, c.content);
        int reason = 0;
        EXPECT_EQ(CSerial::ProbePort(line.Path().c_str(), &reason),
                  c.text.empty() ? PortAvailable : PortInUse);
        const std::int32_t opened = port.Open(line.Path().c_str());
        EXPECT_EQ(serial::RefusalText(port.GetLastRefusal()), c.text);
        if (c.text.empty()) {
            EXPECT_EQ(opened, SerialOk);
            EXPECT_EQ(ReadAll(lockFile), PidText(getpid()));
            port.Close();
        } else {
            EXPECT_EQ(opened, SerialErrAccessDenied);
            EXPECT_EQ(ReadAll(lockFile), c.content) << "another's lock is left alone";
            EXPECT_EQ(ReadTtyState(line.Path()).exclusive, false);
        }
        unlink(lockFile.c_str());
    }

    // Where the lock folder cannot be written, the port opens without a lock file.
    serial::SetLockDirectoryForTests(lockFolder + "/missing");
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_NE(access((lockFolder + "/missing").c_str(), F_OK), 0);
}

// Run as `nobody` by the test below; skipped when run by itself.
TEST(StaleLock, OfAnotherUserIsNamedAndRespected) {
    const char* device = std::getenv("SERIAL_TEST_DEVICE");
    const char* folder = std::getenv("SERIAL_TEST_LOCK_FOLDER");
    if (device == nullptr || folder == nullptr) {
        GTEST_SKIP() << "only run by AStaleLockThatCannotBeRemovedIsNamed";
    }
    serial::SetLockDirectoryForTests(folder);
    const std::string lock = serial::LockFilePath(device);
    const std::string text = "stale lock file " + lock + " of process " +
                             std::getenv("SERIAL_TEST_DEAD_PID") + " could not be removed";
    serial::PortRefusal refusal;
    EXPECT_EQ(CSerial::ProbePort(device, refusal), PortInUse);
    EXPECT_EQ(serial::RefusalText(refusal), text);
    CSerial port;
    EXPECT_EQ(port.Open(device), SerialErrAccessDenied);
    EXPECT_EQ(serial::RefusalText(port.GetLastRefusal()), text);
    EXPECT_EQ(access(lock.c_str(), F_OK), 0);
}

TEST_F(LockedPortTest, AStaleLockThatCannotBeRemovedIsNamed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to leave a lock that the unprivileged user nobody cannot "
                        "remove";
    }
    if (access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs setpriv (util-linux) to run the check as nobody";
    }
    // A sticky, world-writable lock folder as /run/lock is, with a stale lock of root's.
    ASSERT_EQ(chmod(configHome.c_str(), 0755), 0);
    ASSERT_EQ(chmod(lockFolder.c_str(), 01777), 0);
    ASSERT_EQ(chmod(line.Path().c_str(), 0666), 0);
    const std::string dead = std::to_string(DeadPid());
    WriteLock(lockFile, PidText(std::stoi(dead)));
    const std::string command = "SERIAL_TEST_DEVICE=" + line.Path() +
                                " SERIAL_TEST_LOCK_FOLDER=" + lockFolder +
                                " SERIAL_TEST_DEAD_PID=" + dead + " " + AsNobody() +
                                " --gtest_filter=StaleLock.OfAnotherUserIsNamedAndRespected";
    EXPECT_EQ(RunQuietly(command), 0) << command;
    EXPECT_EQ(ReadAll(lockFile), PidText(std::stoi(dead)));
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
    const std::string command = "SERIAL_TEST_FORBIDDEN_DEVICE=" + line.Path() + " " + AsNobody() +
                                " --gtest_filter=PortReason.ProbeAndOpenAsThisUser";
    EXPECT_EQ(RunQuietly(command), 0) << command;
}

TEST_F(SerialTest, APseudoTerminalPairMadeBySocatIsUsableAtBothEnds) {
    if (access("/usr/bin/socat", X_OK) != 0) {
        GTEST_SKIP() << "needs socat (scripts/setup installs it)";
    }
    // socat keeps both ends of each pair open; the slaves it offers are still free to use.
    const std::string ends[2] = {configHome + "/vcom0", configHome + "/vcom1"};
    ChildProcess socat;
    ASSERT_TRUE(socat.Start("/usr/bin/socat", {"pty,link=" + ends[0] + ",raw,echo=0",
                                               "pty,link=" + ends[1] + ",raw,echo=0"}));
    const auto start = std::chrono::steady_clock::now();
    while ((access(ends[0].c_str(), F_OK) != 0 || access(ends[1].c_str(), F_OK) != 0) &&
           serialtest::MillisecondsSince(start) < 10000) {
        usleep(5000);
    }
    CSerial left;
    CSerial right;
    ASSERT_EQ(left.Open(ends[0].c_str()), SerialOk) << serial::RefusalText(left.GetLastRefusal());
    ASSERT_EQ(right.Open(ends[1].c_str()), SerialOk) << serial::RefusalText(right.GetLastRefusal());
    ASSERT_EQ(left.Write("ping", 4), SerialOk);
    std::string received;
    while (received.size() < 4 && serialtest::MillisecondsSince(start) < 20000) {
        char chunk[16];
        std::uint32_t count = 0;
        ASSERT_EQ(right.Read(chunk, sizeof chunk, &count), SerialOk);
        received.append(chunk, count);
        if (count == 0) {
            usleep(2000);
        }
    }
    EXPECT_EQ(received, "ping");
    socat.Terminate();
    EXPECT_TRUE(socat.WaitForFinished(10000));
}
