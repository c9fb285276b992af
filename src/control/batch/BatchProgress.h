#pragma once
// The one progress line of a batch conversion on a terminal: files done of
// all, bytes done of all, the current rate and the time left, redrawn in
// place. Lines about finished files go between redraws (Clear first).

#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

namespace spatialmux {

struct BatchTotals {
    int filesDone = 0;
    int filesTotal = 0;
    uint64_t bytesDone = 0;  // of the inputs, counting the running conversions' share
    uint64_t bytesTotal = 0;
};

class BatchProgress {
public:
    // Draws only when `stream` is a terminal (or `force` is set); with no
    // stream it only follows the rate.
    explicit BatchProgress(std::FILE* stream, bool force = false);
    ~BatchProgress();
    BatchProgress(const BatchProgress&) = delete;
    BatchProgress& operator=(const BatchProgress&) = delete;

    // Takes the totals at `seconds` since the start and redraws when the
    // line changed.
    void Update(double seconds, const BatchTotals& totals);
    // Removes the line so that another line can be printed in its place.
    void Clear();

    // The current rate in bytes per second over the last few seconds;
    // nothing until it can be told.
    std::optional<double> Rate() const;

    // "2/5 files  1.2 GB of 4.5 GB  85.3 MB/s  0:39 left", without a rate
    // "2/5 files  1.2 GB of 4.5 GB".
    static std::string Line(const BatchTotals& totals, std::optional<double> bytesPerSecond);

private:
    struct Sample {
        double seconds;
        uint64_t bytes;
    };
    std::FILE* stream;
    bool draw;
    std::deque<Sample> samples;
    std::string shown;
    double drawnAt = 0.0;
    int drawnFilesDone = -1;
};

}  // namespace spatialmux
