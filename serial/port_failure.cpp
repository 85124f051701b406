#include "serial/port_failure.h"

#include <cerrno>

namespace serial {

const char* PortFailureText(int reason) {
    switch (reason) {
    case EACCES:
    case EPERM:
        return "no permission: join the dialout group";
    case EBUSY:
    case EWOULDBLOCK:
        return "in use by another program";
    case ECONNREFUSED:
        return "the server refused the connection";
    case ENETUNREACH:
    case EHOSTUNREACH:
        return "the server cannot be reached";
    default:
        return nullptr;
    }
}

bool PortIsBusy(int reason) {
    return reason == EBUSY || reason == EWOULDBLOCK;
}

} // namespace serial
