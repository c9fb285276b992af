// The pipeline of one conversion: the temporary WAV with the new channel
// order and gain, the remux, the deletion of the WAV and the transplant of
// the camera metadata.
#include <cstdio>
#include <memory>
#include <string>

#include "audio/ByteUtil.h"
#include "audio/WavWriter.h"
#include "control/FinishedOutputCheck.h"
#include "control/GainChoice.h"
#include "control/wrap_ffmpeg.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "platform/Backend.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

namespace {

// The one frame of audio the process works through, reused for every frame
// and touched only by the thread that runs the pipeline.
AudioFrame cur_frame;

// Removes what a conversion wrote when it does not complete: the temporary
// WAV always, the output only once the remux has created it (an output that
// was never touched may be a file the user still wants).
class JobFiles {
public:
    JobFiles(std::string wav, std::string output)
        : wavPath(std::move(wav)), outputPath(std::move(output)) {}
    ~JobFiles() {
        if (completed) return;
        std::remove(wavPath.c_str());
        if (outputCreated) std::remove(outputPath.c_str());
    }
    JobFiles(const JobFiles&) = delete;
    JobFiles& operator=(const JobFiles&) = delete;

    bool outputCreated = false;
    bool completed = false;

private:
    std::string wavPath;
    std::string outputPath;
};

float WavPhaseProgress(int32_t current, float total) {
    if (total <= 0.0f) return 50.0f;
    return static_cast<float>(current) / total * 100.0f * 0.5f;
}

}  // namespace

int32_t wrap_ffmpeg::Convert(const std::string& input, const std::string& output) {
    const std::string alert5 = platform::LocalizedString("alert5");
    const std::string wavPath = TemporaryWavPath(output);
    const platform::FileFacts& facts = platform::CurrentFileFacts();

    platform::Notification start;
    start.name = platform::kForOrderFrontNotification;
    start.paths = {input, output, wavPath};
    platform::NotificationCenter::Default().PostOnMainThread(std::move(start));

    // Every failure of the pipeline ends here: its line on standard output
    // ("error!!" and the cause, when the stage has one to name), the failure
    // alert, and -1. Failures of the remux are reported by the remux's
    // adapter; a cancelled job ends without an alert.
    auto fail = [this, &alert5](const char* reason) {
        if (reason != nullptr) {
            std::printf("error!! %s\n", reason);
        } else {
            std::printf("error!!\n");
        }
        std::fflush(stdout);
        myAlert(alert5);
        return -1;
    };

    if (UsesEditEngine(output)) {
        std::string why;
        const int32_t edited = ConvertByEdit(input, output, &why);
        if (edited != kEditUnsuitable) return edited;
        std::printf("%s: cannot be edited in place (%s); remuxing instead\n", input.c_str(),
                    why.c_str());
    }

    cur_reader().reset();
    cur_reader() = std::make_unique<MovieReader>(kFrameSize);
    MovieReader& reader = *cur_reader();
    if (reader.Open(input, kFrameSize) != MovieReader::kOpenReady) return fail(nullptr);
    reader.SeekToTime(0);

    JobFiles files(wavPath, output);
    cur_writer().reset();
    cur_writer() = std::make_unique<WavWriter>();
    WavWriter& writer = *cur_writer();
    writer.Open(wavPath);

    const float gain = ChooseGain(reader.SoftwareText(), reader.MakerNoteFlag());
    const float total = static_cast<float>(reader.GetTotalSamples());
    const ByteUtil util;
    float* c1 = cur_frame.Channel(1);
    float* c2 = cur_frame.Channel(2);
    float* c3 = cur_frame.Channel(3);
    float* c4 = cur_frame.Channel(4);

    // WAV phase: 0 to 50 percent.
    for (;;) {
        const bool ended = reader.ReadFrame(c1, c2, c3, c4);
        if (CancelRequested()) return -1;
        if (!facts.Exists(wavPath)) {
            const int32_t failed = fail("the temporary WAV is gone");
            platform::CurrentBackend().RequestTermination();
            return failed;
        }
        // The final frame carries the rest of the audio: write exactly what
        // the input holds, so that no sampling instant is lost.
        const int32_t instants = ended ? reader.GetLastFrameSamples() : kFrameSize;
        if (instants > 0) {
            util.ApplyGain(c1, instants, gain);
            writer.WriteFrame(c1, c3, c4, c2, instants);
        }
        if (writer.Failed()) return fail("could not write the temporary WAV");
        const int32_t current = ended ? reader.GetTotalSamples() : reader.GetCurrentSample();
        if (instants > 0 || !ended) myProgRate_update(WavPhaseProgress(current, total));
        if (ended) break;
    }
    if (reader.HadShortRead()) return fail("the input movie could not be read to its end");
    if (!writer.Finish()) return fail("could not finish the temporary WAV");
    if (!facts.Exists(input)) return fail("the input movie is gone");

    // Remux: 50 to 100 percent.
    bool outputOpened = false;
    const int32_t muxed = ffmpegMuxer(input, wavPath, output, &outputOpened);
    files.outputCreated = outputOpened;
    if (muxed != 0) return -1;  // reported by the remux itself, or cancelled
    std::remove(wavPath.c_str());
    if (CancelRequested()) return -1;

    if (reader.TransplantMetadata(output) != 0) {
        return fail("could not write the camera metadata into the output");
    }
    // The output must hold every instant the WAV phase wrote: the audio's
    // length, or less when short tables were accepted.
    const int64_t writtenInstants = writer.DataByteCount() / kBytesPerInstant;
    if (const auto mismatch =
            CheckFinishedOutput(input, output, writtenInstants, !reader.UuidBox().empty())) {
        return fail(mismatch->c_str());
    }
    files.completed = true;
    return 0;
}

}  // namespace spatialmux
