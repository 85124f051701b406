#pragma once
// A program the tests start beside them, such as the test bus. It is started with a plain
// fork and exec: QProcess starts children in the parent's memory (vfork), and under
// ThreadSanitizer such a child leaves the parent's own thread state corrupt, which then
// shows as races that are not there. Standard output and error are the test's own.

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
