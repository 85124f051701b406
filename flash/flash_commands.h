#pragma once
// What trakbus-flash does, on the loader's own bus link and transfer engine: a download to one
// or more ports, a discover request, an identify request, the list of ports. Each returns the
// program's exit status.

#include "flash/flash_link.h"
#include "flash/flash_options.h"

#include <vector>

int RunDownload(const FlashOptions& options, const std::vector<PortChoice>& ports,
                const RateChoice& rate);
int RunDiscover(const FlashOptions& options, const PortChoice& port, const RateChoice& rate);
int RunIdentify(const FlashOptions& options, const PortChoice& port, const RateChoice& rate);
int RunListPorts(const FlashOptions& options);
// --add-port: writes the port entry.
int RunAddPort(const FlashOptions& options);

// Waits up to `seconds` for every port to be there and free. Returns ExitDone, or the status
// to end with after saying why.
int WaitForPorts(const std::vector<PortChoice>& ports, int seconds);
