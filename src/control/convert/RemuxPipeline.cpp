// The pipeline of one conversion: the temporary WAV with the new channel
// order and gain, the remux into a hidden output, the deletion of the WAV,
// the transplant of the camera metadata, the verification, and only then
// the rename of the hidden output into place.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "audio/ByteUtil.h"
#include "audio/WavWriter.h"
#include "control/convert/FinishedOutputCheck.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/EngineChoice.h"
#include "control/job/FailureCause.h"
#include "control/job/InertTestPausePoints.h"
#include "control/job/OutputCommit.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "platform/Backend.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

namespace {

// The one frame of audio the process works through, reused for every frame
// and touched only by the thread that runs the pipeline.
AudioFrame cur_frame;

// The device and inode of the input (links followed), to tell that the
// reader and the remux read one and the same file.
std::optional<platform::FileIdentity> InputIdentity(const std::string& path) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0) return std::nullopt;
    return platform::FileIdentity{static_cast<unsigned long long>(facts.st_dev),
                                  static_cast<unsigned long long>(facts.st_ino)};
}

// Announces the job to the progress window: input, output and the hidden
// file the job works in (the temporary WAV of the remux, the edited copy).
void PostStart(const std::string& input, const std::string& output, const std::string& scratch) {
    platform::Notification start;
    start.name = platform::kForOrderFrontNotification;
    start.paths = {input, output, scratch};
    platform::NotificationCenter::Default().PostOnMainThread(std::move(start));
}

// The WAV's failure with the system's cause ("No space left on device").
std::string WavFailure(const char* what, const WavWriter& writer) {
    if (writer.ErrorNumber() == 0) return what;
    return std::string(what) + ": " + std::strerror(writer.ErrorNumber());
}

float WavPhaseProgress(int32_t current, float total) {
    if (total <= 0.0f) return 50.0f;
    return static_cast<float>(current) / total * 100.0f * 0.5f;
}

}  // namespace

int32_t wrap_ffmpeg::Convert(const JobPlan& plan) {
    const std::string& input = plan.input;
    const std::string& output = plan.output;
    const output::AudioEncoding& audio = plan.format.audio;
    const std::string alert5 = platform::LocalizedString("alert5");
    const platform::FileFacts& facts = platform::CurrentFileFacts();

    // Every failure of the pipeline ends here: its line on standard output
    // ("error!!" and the cause, when the stage has one to name), the failure
    // alert, and -1. Failures of the remux are reported by the remux's
    // adapter; a cancelled job ends without an alert. Whatever this run
    // created is removed when `commit` ends without its Commit.
    auto fail = [this, &alert5](const char* reason) {
        SayFailure(reason != nullptr ? std::string(reason) : std::string());
        myAlert(alert5);
        return -1;
    };

    // The hidden output, prepared by AppMainFuncProc (or here, when the
    // pipeline is run on its own).
    std::unique_ptr<OutputCommit> commit = std::move(cur_commit());
    if (!commit || commit->FinalPath() != OutputCommit::FinalPathFor(output)) {
        std::string why;
        commit = OutputCommit::Begin(output, &why);
        if (!commit) return fail(why.c_str());
    }
    std::string why;

    // A QuickTime movie with PCM audio is made by editing a copy of the
    // input; what the edit cannot handle goes through the remux below.
    if (UsesEditEngine(output, audio.codec)) {
        PostStart(input, output, commit->TemporaryPath());
        const int32_t edited = ConvertByEdit(plan, *commit, &why);
        if (edited != kEditUnsuitable) return edited;
        std::printf("%s: cannot be edited in place (%s); remuxing instead\n", input.c_str(),
                    why.c_str());
        std::fflush(stdout);
        ContinueProgress();
    }

    auto wavFile = commit->CreateCompanion(".wav", &why);
    if (!wavFile) {
        std::printf("error:%s\n", why.c_str());
        return fail("could not create the temporary WAV");
    }
    const std::string wavPath = wavFile->first;

    PostStart(input, output, wavPath);
    myPhase_update("audio");

    // The reader and, later, the remux open the input by name: both must
    // find the file that was checked, not one renamed over it meanwhile.
    const auto inputIdentity = InputIdentity(input);
    auto inputReplaced = [&input, &inputIdentity] {
        return !inputIdentity || InputIdentity(input) != inputIdentity;
    };

    cur_reader().reset();
    cur_reader() = std::make_unique<MovieReader>(kFrameSize);
    MovieReader& reader = *cur_reader();
    if (reader.Open(input, kFrameSize) != MovieReader::kOpenReady) return fail(nullptr);
    if (inputReplaced()) return fail("the input movie was replaced while converting");
    reader.SeekToTime(0);

    cur_writer().reset();
    cur_writer() = std::make_unique<WavWriter>();
    WavWriter& writer = *cur_writer();
    writer.OpenCreated(wavPath, wavFile->second.Release());

    const float gain = ChooseGain(reader.SoftwareText(), reader.MakerNoteFlag());
    const bool turned = !plan.options.rotateAudio.IsIdentity();
    const Rotation3 turn = RotationMatrix(plan.options.rotateAudio);
    const float total = static_cast<float>(reader.GetTotalSamples());
    const ByteUtil util;
    float* c1 = cur_frame.Channel(1);
    float* c2 = cur_frame.Channel(2);
    float* c3 = cur_frame.Channel(3);
    float* c4 = cur_frame.Channel(4);
    const int64_t middle = reader.GetTotalSamples() / 2;

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
            // W Y Z X are channels 1, 3, 4, 2.
            if (turned) RotateAmbisonics(turn, c3, c4, c2, instants);
            writer.WriteFrame(c1, c3, c4, c2, instants);
        }
        if (writer.Failed())
            return fail(WavFailure("could not write the temporary WAV", writer).c_str());
        const int32_t current = ended ? reader.GetTotalSamples() : reader.GetCurrentSample();
        if (instants > 0 || !ended) myProgRate_update(WavPhaseProgress(current, total));
        TestPausePoint("wav-start");
        if (current >= middle) TestPausePoint("wav-middle");
        if (ended) break;
    }
    if (reader.HadShortRead()) return fail("the input movie could not be read to its end");
    if (!writer.Finish()) {
        return fail(WavFailure("could not finish the temporary WAV", writer).c_str());
    }
    if (!facts.Exists(input)) return fail("the input movie is gone");
    if (inputReplaced()) return fail("the input movie was replaced while converting");

    // Remux: 50 to 100 percent, through the descriptor of the hidden output
    // (never opened by name); the container is chosen by the output's own
    // name.
    myPhase_update("remux");
    const int32_t muxed =
        ffmpegMuxer(input, wavPath, commit->TemporaryPath(), nullptr, output, commit->Fd(), audio);
    if (muxed != 0) return -1;  // reported by the remux itself, or cancelled
    TestPausePoint("remux-end");
    if (inputReplaced()) return fail("the input movie was replaced while converting");
    if (!commit->Remove(wavPath, &why)) return fail(why.c_str());
    if (CancelRequested()) return -1;

    myPhase_update("metadata");
    TestPausePoint("transplant");
    if (CancelRequested()) return -1;
    if (reader.TransplantMetadata(commit->TemporaryPath()) != 0) {
        return fail("could not write the camera metadata into the output");
    }
    myPhase_update("verify");
    TestPausePoint("verify");
    if (CancelRequested()) return -1;
    // The output must hold every instant the WAV phase wrote: the audio's
    // length, or less when short tables were accepted.
    const int64_t writtenInstants = writer.DataByteCount() / kBytesPerInstant;
    if (const auto mismatch = CheckFinishedOutput(input, commit->TemporaryPath(), writtenInstants,
                                                  !reader.UuidBox().empty(), audio.codec)) {
        return fail(mismatch->c_str());
    }
    TestPausePoint("commit");
    // A stop now still leaves nothing: the rename is the last step.
    if (CancelRequested()) return -1;
    if (!commit->Commit(&why)) return fail(why.c_str());
    return 0;
}

}  // namespace spatialmux
