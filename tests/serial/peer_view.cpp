// Kept apart from the other test sources: <asm/termbits.h> clashes with <termios.h>.
#include "tests/serial/pty_pair.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serialtest {

PeerView ReadPeerView(int master) {
    termios2 tio{};
    PeerView view;
    if (ioctl(master, TCGETS2, &tio) != 0) {
        return view;
    }
    view.bitRate = tio.c_ospeed;
    view.crtscts = (tio.c_cflag & CRTSCTS) != 0;
    view.ixon = (tio.c_iflag & IXON) != 0;
    view.ixoff = (tio.c_iflag & IXOFF) != 0;
    view.parityEnabled = (tio.c_cflag & PARENB) != 0;
    view.parityChecked = (tio.c_iflag & INPCK) != 0;
    view.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        view.dataBits = 5;
        break;
    case CS6:
        view.dataBits = 6;
        break;
    case CS7:
        view.dataBits = 7;
        break;
    default:
        view.dataBits = 8;
    }
    view.echo = (tio.c_lflag & ECHO) != 0;
    view.canonical = (tio.c_lflag & ICANON) != 0;
    return view;
}

} // namespace serialtest
