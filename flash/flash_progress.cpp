#include "flash/flash_progress.h"

#include <cstdio>

namespace {

constexpr int kBarWidth = 20;

} // namespace

std::string FormatProgressBar(const DownloadProgress& progress) {
    const int filled = progress.percent * kBarWidth / 100;
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kBarWidth - filled), '.') + "]";
    char text[128];
    std::snprintf(text, sizeof text, "%s %3d %%  %d/%d messages  %s left", bar.c_str(),
                  progress.percent, progress.messagesSent, progress.messagesTotal,
                  FormatTimeLeft(progress.leftNs).c_str());
    return text;
}

void CProgressOutput::Show(const DownloadProgress& progress) {
    if (m_quiet) {
        return;
    }
    if (m_terminal) {
        // Back to the line's start and clear to its end, so a shorter line leaves nothing over.
        std::fprintf(stderr, "\r%s\033[K", FormatProgressBar(progress).c_str());
        std::fflush(stderr);
        m_barShown = true;
        return;
    }
    if (progress.percent < m_nextStep) {
        return;
    }
    std::fprintf(stderr, "trakbus-flash: %s\n", FormatProgressLine(progress).c_str());
    // One line for a jump over several steps.
    m_nextStep = (progress.percent / 10 + 1) * 10;
}

void CProgressOutput::Finish() {
    if (m_barShown) {
        std::fputc('\n', stderr);
        m_barShown = false;
    }
}
