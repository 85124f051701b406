#pragma once
// How trakbus-flash shows the progress of its downloads on stderr: on a terminal one bar per
// port that redraws itself, else one plain line per port for every 10 %.

#include "loader/progress_text.h"

#include <cstdint>
#include <string>
#include <vector>

// "[##########..........]  50 %  344/688 messages  0:12 left", with `label` in front when it is
// not empty, shortened to fit in `columns` - 1 characters.
std::string FormatProgressBar(const DownloadProgress& progress, const std::string& label,
                              int columns);

class CProgressOutput {
public:
    // One label per port; labels are shown only for more than one port.
    CProgressOutput(std::vector<std::string> labels, bool terminal, bool quiet, int columns);

    // The progress of port `index` as it moves on; a plain line when it passes a step. The last
    // line, at 100 %, comes from the progress after the run.
    void Update(std::size_t index, const DownloadProgress& progress);
    // Terminal: draws every port's bar again.
    void Redraw();
    // Ends the bars' lines, so that what follows starts on a line of its own.
    void Break();

private:
    std::string Label(std::size_t index) const;

    std::vector<std::string> m_labels;
    bool m_terminal;
    bool m_quiet;
    int m_columns;
    std::vector<DownloadProgress> m_latest;
    std::vector<int> m_nextStep; // the next per cent that gets a plain line
    bool m_drawn = false;
};
