#pragma once
// A live capture for Wireshark: the port opened as kelvmon opens it (exclusively, never taken
// from a program that holds it, 8 data bits, no parity, one stop bit, no flow control), only
// read, its bytes cut into frames and written as pcap packets to Wireshark's pipe until
// Wireshark ends the capture.

#include "wireshark/extcap_options.h"

// Exit codes.
enum ExtcapExit { ExtcapDone = 0, ExtcapFailed = 1, ExtcapUsage = 2 };

int RunExtcapCapture(const ExtcapOptions& options);
