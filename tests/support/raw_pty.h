#pragma once
// Opens a pseudo-terminal whose program side is raw from the start, so that nothing written
// before the program configures the line is echoed or changed by the terminal layer. The
// master side does not block.

#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <termios.h>

inline std::string OpenRawPty(int& master, int& slave) {
    char name[PATH_MAX] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return name;
}
