#include "loader/progress_text.h"

#include <cstdio>

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;

} // namespace

std::string FormatTimeLeft(std::int64_t ns) {
    const std::int64_t seconds = ns <= 0 ? 0 : (ns + kNsPerSecond - 1) / kNsPerSecond;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string FormatProgressLine(const DownloadProgress& progress) {
    char text[128];
    std::snprintf(text, sizeof text, "%d %%, %d of %d messages sent, %s left", progress.percent,
                  progress.messagesSent, progress.messagesTotal,
                  FormatTimeLeft(progress.leftNs).c_str());
    return text;
}
