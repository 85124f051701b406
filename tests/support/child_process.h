#pragma once
// A program the tests start beside them, such as the test bus, started with posix_spawn.
// QProcess's child runs Qt's code in the parent's memory until exec; under ThreadSanitizer
// that leaves the parent's thread state corrupt, which then shows as races that are not
// there. posix_spawn's child runs only the C library's own code. Standard output and error
// are the test's own.

#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`; false when it could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    bool Running();
    // Asks it to end (SIGTERM).
    void Terminate();
    // Waits until it has ended; false on time-out.
    bool WaitForFinished(int timeoutMs);
    // Its exit status once it has exited; -1 while it runs or when a signal ended it.
    int ExitCode() const { return m_exitCode; }

private:
    int m_pid = -1;
    int m_exitCode = -1;
};
