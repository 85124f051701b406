#pragma once
// How trakbus-flash shows a download's progress on stderr: a bar that redraws itself on a
// terminal, or one plain line for every 10 % otherwise.

#include "loader/time_left.h"

#include <cstdint>
#include <string>

// "m:ss", or "h:mm:ss" from an hour on; rounded up to whole seconds.
std::string FormatTimeLeft(std::int64_t ns);

// "[##########..........]  50 %  344/688 messages  0:12 left", without a line end.
std::string FormatProgressBar(const DownloadProgress& progress);

// "50 %, 344 of 688 messages sent, 0:12 left"
std::string FormatProgressLine(const DownloadProgress& progress);

// Writes the progress to stderr as it moves on.
class CProgressOutput {
public:
    CProgressOutput(bool terminal, bool quiet) : m_terminal(terminal), m_quiet(quiet) {}

    void Show(const DownloadProgress& progress);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void Finish();

private:
    bool m_terminal;
    bool m_quiet;
    int m_nextStep = 10; // the next per cent that gets a plain line
    bool m_barShown = false;
};
