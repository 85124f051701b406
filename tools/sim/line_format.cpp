#include "tools/sim/line_format.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

Nanos LineFormat::WireTime(std::size_t bytes) const {
    if (bitRate <= 0)
        return 0;
    return static_cast<Nanos>(bytes) * bitsPerChar * 1'000'000'000LL / bitRate;
}

bool ReadLineFormat(int fd, LineFormat* format) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    int dataBits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        break;
    }
    format->bitRate = static_cast<int>(tio.c_ospeed);
    format->bitsPerChar =
        1 + dataBits + ((tio.c_cflag & PARENB) ? 1 : 0) + ((tio.c_cflag & CSTOPB) ? 2 : 1);
    return true;
}

bool SetLineBitRate(int fd, int bitRate) {
    termios2 tio{};
    if (bitRate <= 0 || ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(bitRate);
    return ioctl(fd, TCSETS2, &tio) == 0;
}
