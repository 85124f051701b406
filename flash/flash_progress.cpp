#include "flash/flash_progress.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 20;
constexpr int kShortestBar = 5;
constexpr int kStep = 10;

std::string Bar(int percent, int width) {
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "] ";
}

} // namespace

std::string FormatProgressBar(const DownloadProgress& progress, const std::string& label,
                              int columns) {
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d %%", progress.percent);
    const std::string counts =
        std::to_string(progress.messagesSent) + "/" + std::to_string(progress.messagesTotal);
    const std::string left = FormatTimeLeft(progress.leftNs) + " left";
    const std::string head = label.empty() ? "" : label + " ";
    // From the fullest to the shortest form, the first that fits.
    for (const std::string& tail : {std::string(percent) + "  " + counts + " messages  " + left,
                                    std::string(percent) + "  " + counts + "  " + left}) {
        for (int width = kBarWidth; width >= kShortestBar; --width) {
            const std::string line = head + Bar(progress.percent, width) + tail;
            if (line.size() <= room) {
                return line;
            }
        }
    }
    const std::string line = head + percent + "  " + left;
    return line.substr(0, room);
}

CProgressOutput::CProgressOutput(std::vector<std::string> labels, bool terminal, bool quiet,
                                 int columns)
    : m_labels(std::move(labels)), m_terminal(terminal), m_quiet(quiet), m_columns(columns),
      m_latest(m_labels.size()), m_nextStep(m_labels.size(), kStep) {}

std::string CProgressOutput::Label(std::size_t index) const {
    return m_labels.size() > 1 ? m_labels[index] : std::string();
}

void CProgressOutput::Update(std::size_t index, const DownloadProgress& progress) {
    m_latest[index] = progress;
    if (m_quiet || m_terminal || progress.percent < m_nextStep[index]) {
        return;
    }
    // While the run goes the last record's line would read "769 of 770, 0:01 left": the
    // line at 100 % waits for the end message.
    if (progress.running && progress.percent >= 100) {
        return;
    }
    const std::string label = Label(index);
    std::fprintf(stderr, "trakbus-flash: %s%s\n", label.empty() ? "" : (label + ": ").c_str(),
                 FormatProgressLine(progress).c_str());
    // One line for a jump over several steps.
    m_nextStep[index] = (progress.percent / kStep + 1) * kStep;
}

void CProgressOutput::Redraw() {
    if (m_quiet || !m_terminal) {
        return;
    }
    std::string text;
    if (m_drawn && m_latest.size() > 1) {
        text += "\033[" + std::to_string(m_latest.size() - 1) + "A";
    }
    for (std::size_t i = 0; i < m_latest.size(); ++i) {
        // Back to the line's start and clear to its end, so a shorter line leaves nothing over.
        text += "\r" + FormatProgressBar(m_latest[i], Label(i), m_columns) + "\033[K";
        if (i + 1 < m_latest.size()) {
            text += "\n";
        }
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

void CProgressOutput::Break() {
    if (m_drawn) {
        std::fputc('\n', stderr);
        m_drawn = false;
    }
}
