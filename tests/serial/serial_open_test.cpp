// Opening, closing, exclusivity, probing and the error codes of CSerial.
#include "tests/serial/serial_test_support.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

using serialtest::AddPortEntry;
using serialtest::SerialTest;

TEST(SerialErrors, ErrnoTableNeverCollidesWithNamedCodes) {
    EXPECT_EQ(SerialErrorFromErrno(0), SerialOk);
    for (int e : {ENOENT, ENXIO, ENODEV}) {
        EXPECT_EQ(SerialErrorFromErrno(e), SerialErrFileNotFound);
    }
    for (int e : {EACCES, EBUSY, EWOULDBLOCK}) {
        EXPECT_EQ(SerialErrorFromErrno(e), SerialErrAccessDenied);
    }
    EXPECT_EQ(SerialErrorFromErrno(EPERM), 0x20000001);
    EXPECT_EQ(SerialErrorFromErrno(EIO), 0x20000005);
    const std::int32_t named[] = {
        SerialOk,         SerialErrInvalidFunction, SerialErrNotOpen,  SerialErrAlreadyOpen,
        SerialErrTimeout, SerialErrInvalidArg,      SerialErrIoPending};
    for (int e = 1; e < 200; ++e) {
        for (std::int32_t code : named) {
            EXPECT_NE(SerialErrorFromErrno(e), code) << "errno " << e;
        }
    }
}

TEST_F(SerialTest, OpenCloseAndReopen) {
    CSerial port;
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetEventMask(), SerialDefaultEventMask);
    EXPECT_EQ(port.Close(), SerialOk);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Close(), SerialOk);
    ASSERT_EQ(port.Open(line.Path().c_str(), 512, 512, true), SerialOk);
    std::uint32_t written = 0;
    EXPECT_EQ(port.WriteText("again", &written), SerialOk);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(line.Receive(5, 2000).size(), 5u);
}

TEST_F(SerialTest, OpenOnOpenObjectLeavesThePortAlone) {
    CSerial port;
    ASSERT_EQ(port.Open(line.Path().c_str()), SerialOk);
    ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
    serialtest::PtyPair other;
    EXPECT_EQ(port.Open(other.Path().c_str()), SerialErrAlreadyOpen);
    EXPECT_EQ(port.GetLastError(), SerialErrAlreadyOpen);
    EXPECT_EQ(port.GetBitRate(), 16457);
    EXPECT_EQ(port.WriteText("x"), SerialOk);
    EXPECT_EQ(line.Receive(1, 2000).size(), 1u);
}

TEST_F(SerialTest, MissingDeviceGivesFileNotFound) {
    CSerial port;
    EXPECT_EQ(port.Open("/dev/does-not-exist-here"), SerialErrFileNotFound);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open("\\\\.\\COM44"), SerialErrFileNotFound); // beyond the table, no entry
    EXPECT_EQ(CSerial::ProbePort("\\\\.\\COM44"), PortNotPresent);
    EXPECT_EQ(CSerial::ProbePort("/dev/does-not-exist-here"), PortNotPresent);
}

TEST_F(SerialTest, NonTerminalIsRefusedAndNothingIsCreated) {
    const std::string missing = configHome + "/not-there";
    CSerial port;
    EXPECT_EQ(port.Open(missing.c_str()), SerialErrFileNotFound);
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
    EXPECT_EQ(port.Open(configHome.c_str()), SerialErrnoBase | EISDIR);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(CSerial::ProbePort(configHome.c_str()), PortError);
}

TEST_F(SerialTest, ClosedObjectAnswersNotOpen) {
    CSerial port;
    std::uint8_t buffer[4];
    std::uint32_t count = 99;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), SerialErrNotOpen);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(port.Write(buffer, sizeof buffer, &count), SerialErrNotOpen);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.WaitForEvent(), SerialErrNotOpen);
    EXPECT_EQ(port.SetLineFormat(9600, 8, ParityNone, StopBitsOne), SerialErrNotOpen);
    EXPECT_EQ(port.SetEventCharacter('x', true), SerialErrNotOpen);
    EXPECT_EQ(port.SetEventMask(1), SerialErrNotOpen);
    EXPECT_EQ(port.SetFlowControl(FlowNone), SerialErrNotOpen);
    EXPECT_EQ(port.SetReadMode(ReadNonBlocking), SerialErrNotOpen);
    EXPECT_EQ(port.GetBitRate(), -1);
    EXPECT_EQ(port.GetLastError(), SerialErrNotOpen);
    EXPECT_EQ(port.GetDataBits(), -1);
    EXPECT_EQ(port.GetParity(), -1);
    EXPECT_EQ(port.GetStopBits(), -1);
    EXPECT_EQ(port.GetFlowControl(), -1);
    EXPECT_EQ(port.GetEventMask(), 0u);
    EXPECT_EQ(port.GetLastError(), SerialErrNotOpen);
    EXPECT_EQ(port.GetEventCharacter(), 0);
    EXPECT_EQ(port.GetLastError(), SerialErrNotOpen);
    EXPECT_EQ(port.TakeEvents(), 0u);
    EXPECT_EQ(port.Close(), SerialOk);
}

TEST_F(SerialTest, SecondOpenerIsDeniedInTheSameProcess) {
    CSerial first;
    CSerial second;
    ASSERT_EQ(first.Open(line.Path().c_str()), SerialOk);
    EXPECT_EQ(second.Open(line.Path().c_str()), SerialErrAccessDenied);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortInUse);
    first.Close();
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortAvailable);
    EXPECT_EQ(second.Open(line.Path().c_str()), SerialOk);
}

TEST_F(SerialTest, PortHeldByAnotherProcessIsInUse) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        CSerial holder;
        const char opened = holder.Open(line.Path().c_str()) == SerialOk ? 'y' : 'n';
        [[maybe_unused]] ssize_t w = write(ready[1], &opened, 1);
        char done;
        [[maybe_unused]] ssize_t r = read(release[0], &done, 1); // until the parent lets go
        holder.Close();
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 'y');
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortInUse);
    CSerial port;
    EXPECT_EQ(port.Open(line.Path().c_str()), SerialErrAccessDenied);
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(CSerial::ProbePort(line.Path().c_str()), PortAvailable);
}

TEST_F(SerialTest, ComNameOpensThroughTheUserEntry) {
    AddPortEntry("COM33", line.Path());
    EXPECT_EQ(CSerial::ProbePort("COM33"), PortAvailable);
    CSerial port;
    ASSERT_EQ(port.Open("\\\\.\\COM33"), SerialOk);
    EXPECT_EQ(CSerial::ProbePort("\\\\.\\COM33"), PortInUse);
    AddPortEntry("COM34", configHome + "/dangling");
    EXPECT_EQ(CSerial::ProbePort("COM34"), PortNotPresent);
}
