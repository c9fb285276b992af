#include "control/ConsoleProgress.h"

#include <unistd.h>

#include <cmath>

#include "platform/NotificationCenter.h"
#include "platform/PathParts.h"

namespace spatialmux {

ConsoleProgress::ConsoleProgress(std::string inputPath, std::string outputPath, std::FILE* s,
                                 bool force)
    : input(platform::FileNameOf(inputPath)), output(platform::FileNameOf(outputPath)), stream(s) {
    if (!force && isatty(fileno(stream)) == 0) return;
    subscription = platform::NotificationCenter::Default().AddObserver(
        platform::kProgressUpdateNotification,
        [this](const platform::Notification& n) { Draw(n.number); });
}

ConsoleProgress::~ConsoleProgress() {
    // No redraw may follow the line end.
    subscription.Reset();
    if (drawn) std::fputc('\n', stream);
}

std::string ConsoleProgress::Line(float percent, const std::string& in, const std::string& out) {
    if (!(percent >= 0.0f)) percent = 0.0f;
    if (percent > 100.0f) percent = 100.0f;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(percent / 100.0f * kWidth);
    char figure[16];
    std::snprintf(figure, sizeof figure, "%5.1f%%", static_cast<double>(percent));
    return std::string("[") + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " + figure + "  " + in +
           " -> " + out;
}

void ConsoleProgress::Draw(float percent) {
    const int tenths = std::isfinite(percent) ? static_cast<int>(percent * 10.0f) : 0;
    if (tenths == lastTenths) return;
    lastTenths = tenths;
    std::fprintf(stream, "\r%s\x1b[K", Line(percent, input, output).c_str());
    std::fflush(stream);
    drawn = true;
}

}  // namespace spatialmux
