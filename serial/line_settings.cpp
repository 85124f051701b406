#include "serial/line_settings.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <utility>

namespace serial {
namespace {

int GetTermios(int fd, termios2& tio) {
    return ioctl(fd, TCGETS2, &tio) == 0 ? 0 : errno;
}
int SetTermios(int fd, const termios2& tio) {
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

bool IsModemLineUnsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

constexpr tcflag_t SizeFlag(std::uint8_t dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

std::uint8_t DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

} // namespace

int MakeRaw(int fd) {
    termios2 tio{};
    if (int error = GetTermios(fd, tio)) {
        return error;
    }
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // One byte completes a read; with O_NONBLOCK an empty queue then gives EAGAIN, so that a
    // read of 0 bytes can only mean that the device has gone.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return SetTermios(fd, tio);
}

int ReadTermios(int fd, LineSettings& settings) {
    termios2 tio{};
    if (int error = GetTermios(fd, tio)) {
        return error;
    }
    settings.bitRate = tio.c_ospeed;
    settings.parityCheck = (tio.c_iflag & INPCK) != 0;
    settings.ctsOutFlow = (tio.c_cflag & CRTSCTS) != 0;
    settings.outX = (tio.c_iflag & IXON) != 0;
    settings.inX = (tio.c_iflag & IXOFF) != 0;
    settings.dataBits = DataBitsOf(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0) {
        settings.parity = 0;
    } else if ((tio.c_cflag & CMSPAR) != 0) {
        settings.parity = (tio.c_cflag & PARODD) != 0 ? 3 : 4; // mark : space
    } else {
        settings.parity = (tio.c_cflag & PARODD) != 0 ? 1 : 2; // odd : even
    }
    if ((tio.c_cflag & CSTOPB) == 0) {
        settings.stopBits = 0;
    } else {
        settings.stopBits = settings.dataBits == 5 ? 1 : 2;
    }
    settings.xonChar = tio.c_cc[VSTART];
    settings.xoffChar = tio.c_cc[VSTOP];
    return 0;
}

bool IsValidLineFormat(const LineSettings& settings) {
    const bool fiveBits = settings.dataBits == 5;
    return settings.dataBits >= 5 && settings.dataBits <= 8 && settings.parity <= 4 &&
           settings.stopBits <= 2 && (settings.stopBits != 1 || fiveBits) &&
           (settings.stopBits != 2 || !fiveBits) && settings.bitRate != 0;
}

int WriteTermios(int fd, const LineSettings& settings) {
    if (!IsValidLineFormat(settings)) {
        return EINVAL;
    }
    termios2 tio{};
    if (int error = GetTermios(fd, tio)) {
        return error;
    }
    // Any bit rate, exactly: BOTHER takes the rate from c_ospeed and c_ispeed.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = settings.bitRate;
    tio.c_ispeed = settings.bitRate;

    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= SizeFlag(settings.dataBits);
    static constexpr tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                               PARENB | CMSPAR};
    tio.c_cflag |= parityFlags[settings.parity];
    if (settings.stopBits != 0) {
        tio.c_cflag |= CSTOPB;
    }
    if (settings.ctsOutFlow || settings.rtsControl == 2) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    tio.c_iflag |= (settings.parityCheck ? INPCK : 0) | (settings.outX ? IXON : 0) |
                   (settings.inX ? IXOFF : 0);
    tio.c_cc[VSTART] = settings.xonChar;
    tio.c_cc[VSTOP] = settings.xoffChar;
    return SetTermios(fd, tio);
}

int SetModemLines(int fd, bool dtr, bool rts) {
    int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int clear = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    for (auto [request, lines] : {std::pair{TIOCMBIS, set}, std::pair{TIOCMBIC, clear}}) {
        if (lines != 0 && ioctl(fd, request, &lines) != 0 && !IsModemLineUnsupported(errno)) {
            return errno;
        }
    }
    return 0;
}

int DiscardOutput(int fd) {
    return ioctl(fd, TCFLSH, TCOFLUSH) == 0 ? 0 : errno;
}

} // namespace serial
