#pragma once
// How trakbus-flash shows a download's progress on stderr: a bar that redraws itself on a
// terminal, or one plain line for every 10 % otherwise.

#include "loader/progress_text.h"

#include <cstdint>
#include <string>

// "[##########..........]  50 %  344/688 messages  0:12 left", without a line end.
std::string FormatProgressBar(const DownloadProgress& progress);

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
