#pragma once
// What trakbus-flash does, on the loader's own bus link and transfer engine: a download, a
// discover request, an identify request. Each returns the program's exit status.

#include "flash/flash_options.h"

int RunDownload(const FlashOptions& options);
int RunDiscover(const FlashOptions& options);
int RunIdentify(const FlashOptions& options);
