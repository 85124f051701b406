#include "loader/setting_text.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

std::optional<std::int32_t> ParseIntSetting(std::string_view text) {
    const std::string copy(text); // strtoll needs the terminating zero
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(copy.c_str(), &end, 0);
    if (end == copy.c_str() || errno == ERANGE ||
        value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string FormatIntSetting(std::int32_t value) {
    return std::to_string(value);
}
