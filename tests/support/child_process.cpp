#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

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
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    m_pid = pid;
    m_exitCode = -1;
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
