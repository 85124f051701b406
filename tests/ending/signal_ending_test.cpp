// kelvmon ended by SIGTERM or SIGHUP ends as closing its window does: the port is given back with
// the settings it had, without the exclusive flag, and the lock file goes.
#include "serial/exclusive_open.h"
#include "serial/port_holders.h"
#include "serial/port_lock.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/child_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct TtyState {
    bool exclusive = false;
    speed_t speed = 0;
    tcflag_t lflag = 0;
};

// As another program finds the terminal; a refused open means that the flag keeps it out.
TtyState ReadTtyState(const std::string& path) {
    TtyState state;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        state.exclusive = errno == EBUSY;
        return state;
    }
    int exclusive = 0;
    state.exclusive = ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        state.speed = cfgetospeed(&settings);
        state.lflag = settings.c_lflag;
    }
    close(fd);
    return state;
}

// The process number in a lock file, 0 when there is none.
pid_t LockOwner(const std::string& path) {
    std::ifstream file(path);
    pid_t pid = 0;
    file >> pid;
    return pid;
}

template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

TEST(SignalEnding, KelvmonEndedByTermOrHangUpGivesThePortBackAsItFoundIt) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGHUP");
        const std::string home = serialtest::UsePrivateConfigHome();
        serialtest::PtyPair line;
        serialtest::AddPortEntry("COM1", line.Path()); // kelvmon's first port
        // A cooked 9600 bit/s line, as a terminal program leaves it.
        {
            const int fd = open(line.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            ASSERT_GE(fd, 0);
            termios cooked{};
            ASSERT_EQ(tcgetattr(fd, &cooked), 0);
            cfsetspeed(&cooked, B9600);
            cooked.c_lflag |= ICANON | ECHO;
            ASSERT_EQ(tcsetattr(fd, TCSANOW, &cooked), 0);
            close(fd);
        }
        const TtyState before = ReadTtyState(line.Path());
        const std::string lockFile =
            serial::LockFilePath(serial::RealDevicePath(line.Path().c_str()));

        ChildProcess kelvmon;
        ASSERT_TRUE(kelvmon.Start(KELVMON_PATH, {}));
        const auto holder = [&] {
            return serial::FindHolders({line.Path()},
                                       std::chrono::steady_clock::now() + std::chrono::seconds(1))
                .front();
        };
        ASSERT_TRUE(WaitUntil([&] { return holder() != 0; }, 20000)) << "kelvmon opened no port";
        // The port is raw and held while kelvmon has it.
        ASSERT_TRUE(
            WaitUntil([&] { return (ReadTtyState(line.Path()).lflag & ICANON) == 0; }, 10000));
        const pid_t pid = holder();
        const bool locked = LockOwner(lockFile) == pid; // where /run/lock may be written

        kill(pid, signal);
        ASSERT_TRUE(kelvmon.WaitForFinished(20000));
        EXPECT_EQ(kelvmon.ExitCode(), 0) << "ended by the signal itself rather than by closing";
        const TtyState after = ReadTtyState(line.Path());
        EXPECT_FALSE(after.exclusive);
        EXPECT_EQ(after.speed, before.speed);
        EXPECT_EQ(after.lflag, before.lflag);
        if (locked) {
            EXPECT_NE(LockOwner(lockFile), pid) << lockFile << " stayed";
        }
        std::filesystem::remove_all(home);
    }
}
