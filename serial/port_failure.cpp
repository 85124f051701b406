#include "serial/port_failure.h"

#include "serial/port_holders.h"

#include <cerrno>

namespace serial {
namespace {

// "picocom, process 1234", or "process 1234" when its name cannot be read.
std::string Holder(pid_t pid) {
    const std::string name = ProcessName(pid);
    return (name.empty() ? "" : name + ", ") + "process " + std::to_string(pid);
}

} // namespace

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

std::string RefusalText(const PortRefusal& refusal) {
    const std::string process = std::to_string(refusal.holder);
    switch (refusal.lock) {
    case PortRefusal::Lock::Stale:
        return "stale lock file " + refusal.lockFile + " of process " + process +
               " could not be removed";
    case PortRefusal::Lock::Unreadable:
        return "lock file " + refusal.lockFile +
               " names no process: remove it if no program uses the port";
    case PortRefusal::Lock::Live:
        return "in use by another program (" + Holder(refusal.holder) + ", lock file " +
               refusal.lockFile + ")";
    case PortRefusal::Lock::None:
        break;
    }
    const char* text = PortFailureText(refusal.error);
    if (text == nullptr) {
        return {};
    }
    if (PortIsBusy(refusal.error) && refusal.holder > 0) {
        return std::string(text) + " (" + Holder(refusal.holder) + ")";
    }
    return text;
}

} // namespace serial
