#pragma once
// The words for a download's progress, the same in kelvload's status bar and trakbus-flash.

#include "loader/time_left.h"

#include <cstdint>
#include <string>

// "m:ss", or "h:mm:ss" from an hour on; rounded up to whole seconds.
std::string FormatTimeLeft(std::int64_t ns);

// "50 %, 344 of 688 messages sent, 0:12 left"
std::string FormatProgressLine(const DownloadProgress& progress);
