#pragma once
// What the programs tell the user when a port cannot be had, from the errno behind code 5.

namespace serial {

// "no permission: join the dialout group" for EACCES and EPERM, "in use by another program"
// for EBUSY and EWOULDBLOCK; nullptr for any other reason.
const char* PortFailureText(int reason);

} // namespace serial
