#include "control/job/HumanSize.h"

#include <cmath>
#include <cstdio>

namespace spatialmux {

std::string HumanSize(uint64_t bytes) {
    const char* units[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 1000.0 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string HumanDuration(double seconds) {
    if (!(seconds > 0.0)) seconds = 0.0;
    // Beyond 99 hours the figure says nothing useful any more.
    if (seconds > 99.0 * 3600.0) seconds = 99.0 * 3600.0;
    const auto total = static_cast<long>(std::lround(seconds));
    const long hours = total / 3600;
    const long minutes = total / 60 % 60;
    const long secs = total % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, secs);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", minutes, secs);
    }
    return text;
}

}  // namespace spatialmux
