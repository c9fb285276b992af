// The job methods of the controller: the movie check, the free-space check
// and the start of the conversion, inline or on a worker thread.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <variant>

#include "audio/WavWriter.h"
#include "control/movieinfo/AnyFoaMovie.h"
#include "control/convert/JobState.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/EngineChoice.h"
#include "control/job/FailureCause.h"
#include "control/job/HumanSize.h"
#include "control/job/JobPreflight.h"
#include "control/job/OutputCommit.h"
#include "control/job/OutputFormat.h"
#include "control/job/SpaceNeeded.h"
#include "control/movieinfo/LeftOutTracks.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/AudioFrame.h"
#include "movie/CameraMarks.h"
#include "movie/MovieReader.h"
#include "output/OutputVerification.h"
#include "output/Remux.h"
#include "platform/Backend.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"
#include "platform/PathParts.h"

namespace spatialmux {

void wrap_ffmpeg::InitializeFfmpeg() {
    cur_reader().reset();
    cur_writer().reset();
    // FFmpeg needs no registration any more, only its quieter log.
    output::QuietenRemuxLog();
}

int32_t wrap_ffmpeg::CheckMovie(const std::string& path, bool acceptShortAudio) {
    cur_reader().reset();
    cur_reader() = std::make_unique<MovieReader>(kFrameSize);
    const MovieReader& reader = *cur_reader();
    auto refuse = [&path](const std::string& cause) {
        if (!cause.empty()) std::printf("%s: %s\n", path.c_str(), cause.c_str());
        SayFailure(std::string());
        KeepFailureCause(cause);
        return 0;
    };
    if (cur_reader()->Open(path, kFrameSize) != MovieReader::kOpenReady) {
        return refuse(reader.RefusalCause());
    }
    // The reading ends where the tables end: audio the duration promises
    // beyond them would be missing from the output without a word. A
    // difference of up to one frame is tolerated.
    const int64_t held = reader.TableSamples();
    const int64_t promised = reader.GetTotalSamples();
    if (promised - held > kFrameSize) {
        std::printf(
            "%s: warning: the audio tables hold %lld of the %lld sampling instants of the "
            "audio track's duration\n",
            path.c_str(), static_cast<long long>(held), static_cast<long long>(promised));
        if (!acceptShortAudio) {
            return refuse(
                "the audio is shorter than the movie says (to convert what there is, "
                "use --accept-short-audio)");
        }
    }
    std::fflush(stdout);
    return 1;
}

double wrap_ffmpeg::GetFileSize(const std::string& path) {
    const auto size = platform::CurrentFileFacts().Size(path);
    return size ? static_cast<double>(*size) : 0.0;
}

namespace {

// Refusals found before the work starts end here: the alert in the user's
// language, and the job ended as refused. False, for the preflight's steps.
bool RefuseWith(const std::string& text) {
    wrap_ffmpeg().myAlert(text);
    job_state::End(JobResult::Refused);
    return false;
}

bool Refuse(const char* alertKey) {
    return RefuseWith(platform::LocalizedString(alertKey));
}

// The cause in English on the "error!!" line (a batch shows it), the alert
// in the user's language.
bool RefusePreflight(const PreflightRefusal& refusal) {
    SayFailure(refusal.cause);
    return RefuseWith(refusal.message);
}

// Last, the lock on the output and the hidden file the output is written
// into: a second conversion to the same output is refused here.
bool BeginOutput(const std::string& output) {
    std::string why;
    OutputCommit::Refusal refusal = OutputCommit::Refusal::None;
    wrap_ffmpeg::cur_commit() = OutputCommit::Begin(output, &why, &refusal);
    if (wrap_ffmpeg::cur_commit()) return true;
    SayFailure(why);
    if (refusal == OutputCommit::Refusal::Busy) {
        return RefuseWith(platform::FillPlaceholder(platform::LocalizedString("refuse.output.busy"),
                                                    "{file}", platform::ControlsEscaped(output)));
    }
    return RefuseWith(platform::ControlsEscaped(why));
}

}  // namespace

int32_t wrap_ffmpeg::AppMainFuncProc(const std::string& input, const std::string& output,
                                     bool runInline) {
    return AppMainFuncProc(JobRequest{input, output, JobOptions{}, std::nullopt}, runInline);
}

int32_t wrap_ffmpeg::AppMainFuncProc(const JobRequest& request, bool runInline) {
    // One job per process: a second request never touches the running one.
    if (!job_state::TryBegin()) return 0;
    cur_commit().reset();
    // No cause of an earlier job in this process is this one's.
    KeepFailureCause(std::string());
    JobPlan plan;
    if (!PlanJob(request, plan)) return 0;
    if (runInline) {
        ffmpeg_convert(plan);
    } else {
        platform::CurrentBackend().DetachThread(
            [plan = std::move(plan)] { wrap_ffmpeg().ffmpeg_convert(plan); });
    }
    return 1;
}

bool wrap_ffmpeg::PlanJob(const JobRequest& request, JobPlan& plan) {
    plan.input = request.input;
    plan.output = request.output;
    plan.options = request.options;
    const std::string& input = plan.input;
    const std::string& output = plan.output;
    // The container and codec are settled before the movie is even read:
    // a combination the output cannot hold writes nothing.
    if (request.format) {
        plan.format = *request.format;
    } else {
        auto format = ChooseOutputFormat(output, plan.options.audio, plan.options.audioBitRate);
        if (const auto* refusal = std::get_if<std::string>(&format)) {
            SayFailure(*refusal);
            return Refuse("alert8");
        }
        plan.format = std::get<OutputFormat>(format);
    }

    InitializeFfmpeg();
    // A pipe or a device is never opened by the reader (it would block); a
    // file that cannot be read says so instead of "not a camera movie".
    if (const auto refusal = CheckInputFile(input)) return RefusePreflight(*refusal);
    std::optional<uint64_t> foaSpace;
    if (!PlanSource(plan, &foaSpace)) return false;
    // The verification holds the input's index to its tables: an input
    // whose two readings disagree is refused now, not after the remux.
    if (const auto disagreement = output::InputIndexDisagreement(input)) {
        SayFailure(input + ": " + *disagreement);
        return RefuseWith(platform::FillPlaceholder(platform::LocalizedString("refuse.input.index"),
                                                    "{cause}",
                                                    platform::ControlsEscaped(*disagreement)));
    }

    // The input is never written: refuse an output, or a temporary WAV, that
    // is the input file itself under whatever name.
    const platform::FileFacts& facts = platform::CurrentFileFacts();
    if (facts.SameFile(input, output) || facts.SameFile(input, TemporaryWavPath(output))) {
        SayFailure("the output is the input file");
        return Refuse("alert7");
    }
    if (const auto refusal = CheckOutputPlace(output)) return RefusePreflight(*refusal);
    if (!CheckFreeSpace(plan, foaSpace)) return false;
    return BeginOutput(output);
}

bool wrap_ffmpeg::PlanSource(JobPlan& plan, std::optional<uint64_t>* foaSpace) {
    const std::string& input = plan.input;
    // A movie without the camera's marks may be first-order ambisonics from
    // any other source: it takes its own path, planned (or refused with its
    // reason) before anything is written. What carries the camera's marks
    // stays on the camera's path, refusals included.
    const CheckReport report = CheckMovieFile(input);
    if (report.kind != CheckReport::Kind::OtherMovie || CarriesCameraMarks(input)) {
        plan.source = SourceKind::CameraMovie;
        if (CheckMovie(input, plan.options.acceptShortAudio) == 0) return Refuse("alert3");
        if (const auto leftOut = CameraTrackLeftOut(report)) {
            std::printf("%s: %s\n", input.c_str(), leftOut->c_str());
            SayFailure(std::string());
            KeepFailureCause(*leftOut);
            return RefuseWith(input + ": " + *leftOut);
        }
        return true;
    }
    auto foa = PlanFoaConversion(report, plan.options.spatial);
    if (const auto* planned = std::get_if<FoaPlan>(&foa)) {
        if (auto dropped = KeptTrackProblem(*planned, plan.output)) foa = std::move(*dropped);
    }
    if (const auto* refusal = std::get_if<std::string>(&foa)) {
        std::printf("%s: %s%s\n", input.c_str(), kNotConvertible, refusal->c_str());
        SayFailure(std::string());
        KeepFailureCause(kNotConvertible + *refusal);
        return RefuseWith(input + ": " + kNotConvertible + *refusal);
    }
    plan.source = SourceKind::FoaMovie;
    plan.foa = std::move(std::get<FoaPlan>(foa));
    plan.copiesAudio =
        CopiesAudio(*plan.foa, plan.output, plan.format.audio, plan.options.rotateAudio);
    // The output, which is about the input's size, and the temporary WAV
    // (16 bits, four channels) beside it unless the audio is copied.
    const double seconds = report.probe ? report.probe->durationSeconds : 0.0;
    *foaSpace = static_cast<uint64_t>(GetFileSize(input)) +
                (plan.copiesAudio ? 0
                                  : static_cast<uint64_t>(std::max(0.0, seconds) *
                                                          plan.foa->sampleRate * kBytesPerInstant));
    return true;
}

bool wrap_ffmpeg::CheckFreeSpace(const JobPlan& plan, std::optional<uint64_t> foaSpace) {
    // The WAV and the output are written in the output's folder: that is
    // the volume that needs the room. When its free space cannot be read,
    // the job goes on and fails with its own message when it runs out.
    const platform::FileFacts& facts = platform::CurrentFileFacts();
    const double size = GetFileSize(plan.input);
    const std::string outputFolder = platform::FolderOf(OutputCommit::FinalPathFor(plan.output));
    const auto freeBytes = facts.FreeSpace(outputFolder);
    const double free = freeBytes ? static_cast<double>(*freeBytes) : 0.0;
    std::printf("%f %f\n", size, free);
    std::fflush(stdout);
    const uint64_t needed = foaSpace
                                ? *foaSpace
                                : SpaceNeeded(plan.input, outputFolder, *cur_reader(),
                                              UsesEditEngine(plan.output, plan.format.audio.codec));
    if (!freeBytes || needed <= *freeBytes) return true;
    // The figures, so that the user knows how much to free.
    SayFailure("not enough free space in " + outputFolder + ": " + std::to_string(needed) +
               " bytes needed, " + std::to_string(*freeBytes) + " free");
    std::string text = platform::LocalizedString("alert2");
    text = platform::FillPlaceholder(std::move(text), "{needed}", HumanSize(needed));
    text = platform::FillPlaceholder(std::move(text), "{free}", HumanSize(*freeBytes));
    text = platform::FillPlaceholder(std::move(text), "{more}", HumanSize(needed - *freeBytes));
    return RefuseWith(text);
}

void wrap_ffmpeg::ffmpeg_convert(const JobPlan& plan) {
    if (!plan.options.rotateAudio.IsIdentity()) {
        std::printf("%s: the sound field turned by %s\n", plan.input.c_str(),
                    AmbisonicRotationWords(plan.options.rotateAudio).c_str());
        std::fflush(stdout);
    }
    const int32_t result =
        plan.source == SourceKind::FoaMovie ? ConvertFoaMovie(*this, plan) : Convert(plan);
    JobResult outcome = JobResult::Failed;
    if (result == 0)
        outcome = JobResult::Succeeded;
    else if (CancelRequested())
        outcome = JobResult::Cancelled;
    job_state::End(outcome);
    platform::CurrentBackend().RequestTermination();
}

}  // namespace spatialmux
