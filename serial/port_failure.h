#pragma once
// What the programs tell the user when a port cannot be had, from the errno behind code 5.

namespace serial {

// "no permission: join the dialout group" for EACCES and EPERM, "in use by another program"
// for EBUSY and EWOULDBLOCK; for a port on the network "the server refused the connection"
// (ECONNREFUSED) and "the server cannot be reached" (ENETUNREACH, EHOSTUNREACH); nullptr for
// any other reason.
const char* PortFailureText(int reason);

// True when another program holds the port (EBUSY, or EWOULDBLOCK from its lock): a reason
// that may pass by itself, unlike a missing port or a lacking permission.
bool PortIsBusy(int reason);

} // namespace serial
