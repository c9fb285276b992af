// The controller's side of the remux: the remux itself lives in src/output;
// here its progress becomes the second half of the job's percentage (all
// of it for a remux that copies the movie's own audio), its
// diagnostics go to standard output, a cancel request reaches it and a
// failure gets its alert.
#include <cstdio>

#include "control/convert/wrap_ffmpeg.h"
#include "control/job/InertTestPausePoints.h"
#include "output/Remux.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// The remux runs from 50 to 100 percent of the job, after the WAV; a remux
// that copies the movie's own audio runs the whole scale (`from` 0).
float RemuxPhasePercent(int64_t done, int64_t total, double from) {
    if (total <= 0) return static_cast<float>(from);
    const double share = 100.0 - from;
    double percent =
        from + share / 100.0 * (100.0 * static_cast<double>(done) / static_cast<double>(total));
    if (percent < from) percent = from;
    if (percent > 100.0) percent = 100.0;
    return static_cast<float>(percent);
}

class ControllerRemuxJob final : public output::RemuxJob {
public:
    ControllerRemuxJob(wrap_ffmpeg& owner, double from) : controller(owner), start(from) {}

    void Progress(int64_t done, int64_t total) override {
        controller.myProgRate_update(RemuxPhasePercent(done, total, start));
        TestPausePoint("remux");
    }
    bool Cancelled() override { return wrap_ffmpeg::CancelRequested(); }
    void Diagnostic(const std::string& text) override { std::fputs(text.c_str(), stdout); }

private:
    wrap_ffmpeg& controller;
    double start;
};

}  // namespace

int32_t wrap_ffmpeg::goto_end() {
    std::fflush(stdout);
    myAlert(platform::LocalizedString("alert5"));
    return -1;
}

int32_t wrap_ffmpeg::RemuxEnded(output::RemuxStatus status) {
    switch (status) {
        case output::RemuxStatus::Completed:
            myProgRate_update(100.0f);
            return 0;
        case output::RemuxStatus::Cancelled:
            return -2;
        case output::RemuxStatus::Failed:
            break;
    }
    return goto_end();
}

int32_t wrap_ffmpeg::ffmpegMuxer(const std::string& moviePath, const std::string& wavPath,
                                 const std::string& outputPath, bool* outputOpened,
                                 const std::string& containerName, int outputFd,
                                 const output::AudioEncoding& audio,
                                 const output::TrackChoice& tracks) {
    ControllerRemuxJob job(*this, 50.0);
    output::RemuxRequest request{moviePath, wavPath, outputPath, containerName, outputFd, audio};
    request.tracks = tracks;
    const output::RemuxOutcome outcome = output::Remux(request, job);
    if (outputOpened != nullptr) *outputOpened = outcome.outputCreated;
    return RemuxEnded(outcome.status);
}

int32_t wrap_ffmpeg::ffmpegCopyMuxer(const std::string& moviePath, const std::string& outputPath,
                                     const std::string& containerName, int outputFd,
                                     const output::AudioEncoding& audio,
                                     const output::TrackChoice& tracks) {
    ControllerRemuxJob job(*this, 0.0);
    output::RemuxRequest request{moviePath, "", outputPath, containerName, outputFd, audio};
    request.audioFromMovie = true;
    request.tracks = tracks;
    return RemuxEnded(output::Remux(request, job).status);
}

}  // namespace spatialmux
