// The controller's side of the remux: the remux itself lives in src/output;
// here its progress becomes the second half of the job's percentage, its
// diagnostics go to standard output, a cancel request reaches it and a
// failure gets its alert.
#include <cstdio>

#include "control/convert/wrap_ffmpeg.h"
#include "control/job/InertTestPausePoints.h"
#include "output/Remux.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// The remux runs from 50 to 100 percent of the job.
float RemuxPhasePercent(int64_t done, int64_t total) {
    if (total <= 0) return 50.0f;
    double percent = 50.0 + 0.5 * (100.0 * static_cast<double>(done) / static_cast<double>(total));
    if (percent < 50.0) percent = 50.0;
    if (percent > 100.0) percent = 100.0;
    return static_cast<float>(percent);
}

class ControllerRemuxJob final : public output::RemuxJob {
public:
    explicit ControllerRemuxJob(wrap_ffmpeg& owner) : controller(owner) {}

    void Progress(int64_t done, int64_t total) override {
        controller.myProgRate_update(RemuxPhasePercent(done, total));
        TestPausePoint("remux");
    }
    bool Cancelled() override { return wrap_ffmpeg::CancelRequested(); }
    void Diagnostic(const std::string& text) override { std::fputs(text.c_str(), stdout); }

private:
    wrap_ffmpeg& controller;
};

}  // namespace

int32_t wrap_ffmpeg::goto_end() {
    std::fflush(stdout);
    myAlert(platform::LocalizedString("alert5"));
    return -1;
}

int32_t wrap_ffmpeg::ffmpegMuxer(const std::string& moviePath, const std::string& wavPath,
                                 const std::string& outputPath, bool* outputOpened,
                                 const std::string& containerName, int outputFd,
                                 const output::AudioEncoding& audio) {
    ControllerRemuxJob job(*this);
    const output::RemuxOutcome outcome = output::Remux(
        output::RemuxRequest{moviePath, wavPath, outputPath, containerName, outputFd, audio}, job);
    if (outputOpened != nullptr) *outputOpened = outcome.outputCreated;
    switch (outcome.status) {
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

}  // namespace spatialmux
