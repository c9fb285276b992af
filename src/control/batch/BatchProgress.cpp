#include "control/batch/BatchProgress.h"

#include <unistd.h>

#include "control/job/HumanSize.h"

namespace spatialmux {

namespace {
// The rate follows the last few seconds: the files of a card differ in size,
// and the start of each conversion (the audio phase) runs at another pace
// than its end.
constexpr double kRateWindowSeconds = 5.0;
constexpr double kShortestRateSpan = 0.5;
// A redraw a few times a second reads as steady movement without making the
// terminal the busiest part of the batch.
constexpr double kRedrawSeconds = 0.2;
}  // namespace

BatchProgress::BatchProgress(std::FILE* s, bool force)
    : stream(s), draw(s != nullptr && (force || isatty(fileno(s)) != 0)) {}

BatchProgress::~BatchProgress() {
    Clear();
}

void BatchProgress::Update(double seconds, const BatchTotals& totals) {
    samples.push_back({seconds, totals.bytesDone});
    while (samples.size() > 2 && seconds - samples[1].seconds >= kRateWindowSeconds) {
        samples.pop_front();
    }
    if (!draw) return;
    if (totals.filesDone == drawnFilesDone && seconds - drawnAt < kRedrawSeconds) return;
    const std::string line = Line(totals, Rate());
    if (line == shown) return;
    std::fprintf(stream, "\r%s\x1b[K", line.c_str());
    std::fflush(stream);
    shown = line;
    drawnAt = seconds;
    drawnFilesDone = totals.filesDone;
}

void BatchProgress::Clear() {
    if (!draw || shown.empty()) return;
    std::fputs("\r\x1b[K", stream);
    std::fflush(stream);
    shown.clear();
}

std::optional<double> BatchProgress::Rate() const {
    if (samples.size() < 2) return std::nullopt;
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double span = last.seconds - first.seconds;
    if (span < kShortestRateSpan || last.bytes < first.bytes) return std::nullopt;
    return static_cast<double>(last.bytes - first.bytes) / span;
}

std::string BatchProgress::Line(const BatchTotals& totals, std::optional<double> bytesPerSecond) {
    std::string line = std::to_string(totals.filesDone) + "/" + std::to_string(totals.filesTotal) +
                       " files  " + HumanSize(totals.bytesDone) + " of " +
                       HumanSize(totals.bytesTotal);
    if (!bytesPerSecond) return line;
    char rate[32];
    std::snprintf(rate, sizeof rate, "  %.1f MB/s", *bytesPerSecond / 1e6);
    line += rate;
    if (*bytesPerSecond > 0.0 && totals.bytesTotal >= totals.bytesDone) {
        const double left =
            static_cast<double>(totals.bytesTotal - totals.bytesDone) / *bytesPerSecond;
        line += "  " + HumanDuration(left) + " left";
    }
    return line;
}

}  // namespace spatialmux
