#pragma once
// A child process that holds a device with a plain open(2), as a terminal program does, until
// it is released or the holder goes.

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class PlainHolder {
public:
    explicit PlainHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            // Nothing else of the parent's: the master side of a test line held here too would
            // make the child the line's maker rather than a holder.
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != ready[1] && fd != release_[0]) {
                    close(fd);
                }
            }
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            const char opened = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] ssize_t w = write(ready[1], &opened, 1);
            char done;
            [[maybe_unused]] ssize_t r = read(release_[0], &done, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char opened = 0;
        holding_ = read(ready[0], &opened, 1) == 1 && opened == 'y';
        close(ready[0]);
    }
    PlainHolder(const PlainHolder&) = delete;
    PlainHolder& operator=(const PlainHolder&) = delete;
    ~PlainHolder() { Release(); }

    bool Holding() const { return holding_; }
    pid_t Pid() const { return child_; }
    void Release() {
        if (child_ > 0) {
            close(release_[1]);
            int status = 0;
            waitpid(child_, &status, 0);
            child_ = -1;
        }
    }

private:
    pid_t child_ = -1;
    int release_[2] = {-1, -1};
    bool holding_ = false;
};
