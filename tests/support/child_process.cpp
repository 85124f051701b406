#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

ChildProcess::~ChildProcess() {
    if (Running()) {
        Terminate();
        if (!WaitForFinished(5000)) {
            kill(m_pid, SIGKILL);
            WaitForFinished(5000);
        }
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    if (Running()) {
        return false;
    }
    // Everything the child needs is made before the fork: after it, only exec may follow.
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    // A pipe closed by exec tells the parent whether exec succeeded.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (pid == 0) {
        close(report[0]);
        execv(argv[0], argv.data());
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    m_pid = pid;
    m_exitCode = -1;
    if (n > 0) {
        WaitForFinished(5000);
        return false;
    }
    return true;
}

bool ChildProcess::Running() {
    return m_pid > 0 && !WaitForFinished(0);
}

void ChildProcess::Terminate() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
    }
}

bool ChildProcess::WaitForFinished(int timeoutMs) {
    if (m_pid <= 0) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR)) {
            m_exitCode = done == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
