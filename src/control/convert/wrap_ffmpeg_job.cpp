// The job methods of the controller: the movie check, the free-space check
// and the start of the conversion, inline or on a worker thread.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <variant>

#include "audio/WavWriter.h"
#include "control/ambisonics/AnyFoaMovie.h"
#include "control/convert/JobState.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/EngineChoice.h"
#include "control/job/HumanSize.h"
#include "control/job/JobPreflight.h"
#include "control/job/OutputCommit.h"
#include "control/job/OutputFormat.h"
#include "control/job/SpaceNeeded.h"
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

int32_t wrap_ffmpeg::CheckMovie(const std::string& path) {
    cur_reader().reset();
    cur_reader() = std::make_unique<MovieReader>(kFrameSize);
    const MovieReader& reader = *cur_reader();
    auto refuse = [&path](const std::string& cause) {
        if (!cause.empty()) std::printf("%s: %s\n", path.c_str(), cause.c_str());
        std::printf("error!!\n");
        std::fflush(stdout);
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

int32_t wrap_ffmpeg::AppMainFuncProc(const std::string& input, const std::string& output,
                                     bool runInline) {
    // One job per process: a second request never touches the running one.
    if (!job_state::TryBegin()) return 0;
    cur_commit().reset();
    auto refuseWith = [](const std::string& text) {
        wrap_ffmpeg().myAlert(text);
        job_state::End(JobResult::Refused);
        return 0;
    };
    auto refuse = [&refuseWith](const char* alertKey) {
        return refuseWith(platform::LocalizedString(alertKey));
    };
    // Refusals found before the work starts: the cause in English on the
    // "error!!" line (a batch shows it), the alert in the user's language.
    auto refusePreflight = [&refuseWith](const PreflightRefusal& refusal) {
        std::printf("error!! %s\n", refusal.cause.c_str());
        std::fflush(stdout);
        return refuseWith(refusal.message);
    };

    // The container and codec are settled before the movie is even read:
    // a combination the output cannot hold writes nothing.
    const auto format = ChooseOutputFormat(output, audioCodec, audioBitRate);
    if (const auto* refusal = std::get_if<std::string>(&format)) {
        std::printf("error!! %s\n", refusal->c_str());
        std::fflush(stdout);
        return refuse("alert8");
    }

    InitializeFfmpeg();
    // A pipe or a device is never opened by the reader (it would block); a
    // file that cannot be read says so instead of "not a camera movie".
    if (const auto refusal = CheckInputFile(input)) return refusePreflight(*refusal);
    // A movie without the camera's marks may be first-order ambisonics from
    // any other source: it takes its own path, planned (or refused with its
    // reason) before anything is written. What carries the camera's marks
    // stays on the camera's path, refusals included.
    std::optional<uint64_t> foaSpace;
    const CheckReport report = CheckMovieFile(input);
    if (report.kind == CheckReport::Kind::OtherMovie && !CarriesCameraMarks(input)) {
        const auto plan = PlanFoaConversion(report, {ambisonicsChoice, projectionChoice});
        if (const auto* refusal = std::get_if<std::string>(&plan)) {
            std::printf("%s: %s%s\nerror!!\n", input.c_str(), kNotConvertible, refusal->c_str());
            std::fflush(stdout);
            return refuseWith(input + ": " + kNotConvertible + *refusal);
        }
        // The output, which is about the input's size, and the temporary
        // WAV (16 bits, four channels) beside it unless the audio is copied.
        const double seconds = report.probe ? report.probe->durationSeconds : 0.0;
        const FoaPlan& ready = std::get<FoaPlan>(plan);
        const bool copied = CopiesAudio(ready, output, std::get<OutputFormat>(format).audio);
        foaSpace = static_cast<uint64_t>(GetFileSize(input)) +
                   (copied ? 0
                           : static_cast<uint64_t>(std::max(0.0, seconds) * ready.sampleRate *
                                                   kBytesPerInstant));
    } else if (CheckMovie(input) == 0) {
        return refuse("alert3");
    }
    // The verification holds the input's index to its tables: an input
    // whose two readings disagree is refused now, not after the remux.
    if (const auto disagreement = output::InputIndexDisagreement(input)) {
        std::printf("error!! %s: %s\n", input.c_str(), disagreement->c_str());
        std::fflush(stdout);
        return refuseWith(platform::FillPlaceholder(platform::LocalizedString("refuse.input.index"),
                                                    "{cause}",
                                                    platform::ControlsEscaped(*disagreement)));
    }

    // The input is never written: refuse an output, or a temporary WAV, that
    // is the input file itself under whatever name.
    const platform::FileFacts& facts = platform::CurrentFileFacts();
    if (facts.SameFile(input, output) || facts.SameFile(input, TemporaryWavPath(output))) {
        std::printf("error!! the output is the input file\n");
        std::fflush(stdout);
        return refuse("alert7");
    }

    if (const auto refusal = CheckOutputPlace(output)) return refusePreflight(*refusal);

    // The WAV and the output are written in the output's folder: that is
    // the volume that needs the room. When its free space cannot be read,
    // the job goes on and fails with its own message when it runs out.
    const double size = GetFileSize(input);
    const std::string outputFolder = platform::FolderOf(OutputCommit::FinalPathFor(output));
    const auto freeBytes = facts.FreeSpace(outputFolder);
    const double free = freeBytes ? static_cast<double>(*freeBytes) : 0.0;
    std::printf("%f %f\n", size, free);
    std::fflush(stdout);
    const bool edit = UsesEditEngine(output, std::get<OutputFormat>(format).audio.codec);
    const uint64_t needed =
        foaSpace ? *foaSpace : SpaceNeeded(input, outputFolder, *cur_reader(), edit);
    if (freeBytes && needed > *freeBytes) {
        // The figures, so that the user knows how much to free.
        std::printf("error!! not enough free space in %s: %llu bytes needed, %llu free\n",
                    outputFolder.c_str(), static_cast<unsigned long long>(needed),
                    static_cast<unsigned long long>(*freeBytes));
        std::fflush(stdout);
        std::string text = platform::LocalizedString("alert2");
        text = platform::FillPlaceholder(std::move(text), "{needed}", HumanSize(needed));
        text = platform::FillPlaceholder(std::move(text), "{free}", HumanSize(*freeBytes));
        text = platform::FillPlaceholder(std::move(text), "{more}", HumanSize(needed - *freeBytes));
        return refuseWith(text);
    }

    // Last, the lock on the output and the hidden file the output is
    // written into: a second conversion to the same output is refused here.
    std::string why;
    OutputCommit::Refusal refusal = OutputCommit::Refusal::None;
    cur_commit() = OutputCommit::Begin(output, &why, &refusal);
    if (!cur_commit()) {
        std::printf("error!! %s\n", why.c_str());
        std::fflush(stdout);
        if (refusal == OutputCommit::Refusal::Busy) {
            return refuseWith(
                platform::FillPlaceholder(platform::LocalizedString("refuse.output.busy"), "{file}",
                                          platform::ControlsEscaped(output)));
        }
        return refuseWith(platform::ControlsEscaped(why));
    }

    JobDictionary job;
    job["mp4"] = input;
    job["mov"] = output;
    job["audio"] = audioCodec;
    job["audio-bitrate"] = audioBitRate;
    if (foaSpace) {
        job["foa"] = "yes";
        job["ambisonics"] = ambisonicsChoice;
        job["projection"] = projectionChoice;
    }
    if (runInline) {
        ffmpeg_convert(job);
    } else {
        platform::CurrentBackend().DetachThread([job] { wrap_ffmpeg().ffmpeg_convert(job); });
    }
    return 1;
}

void wrap_ffmpeg::ffmpeg_convert(const JobDictionary& job) {
    const auto input = job.find("mp4");
    const auto output = job.find("mov");
    const auto audio = job.find("audio");
    const auto bitRate = job.find("audio-bitrate");
    int32_t result = -1;
    if (input != job.end() && output != job.end()) {
        const auto format =
            ChooseOutputFormat(output->second, audio != job.end() ? audio->second : "",
                               bitRate != job.end() ? bitRate->second : "");
        const auto foa = job.find("foa");
        const auto* chosen = std::get_if<OutputFormat>(&format);
        if (chosen != nullptr && foa != job.end()) {
            const auto ambisonics = job.find("ambisonics");
            const auto projection = job.find("projection");
            const auto plan = PlanFoaConversion(
                CheckMovieFile(input->second), {ambisonics != job.end() ? ambisonics->second : "",
                                                projection != job.end() ? projection->second : ""});
            if (const auto* ready = std::get_if<FoaPlan>(&plan)) {
                result =
                    ConvertFoaMovie(*this, input->second, output->second, *ready, chosen->audio);
            } else {
                std::printf("error!! %s\n", std::get<std::string>(plan).c_str());
                std::fflush(stdout);
                myAlert(platform::LocalizedString("alert5"));
            }
        } else if (chosen != nullptr) {
            result = Convert(input->second, output->second, chosen->audio);
        }
    }
    JobResult outcome = JobResult::Failed;
    if (result == 0)
        outcome = JobResult::Succeeded;
    else if (CancelRequested())
        outcome = JobResult::Cancelled;
    job_state::End(outcome);
    platform::CurrentBackend().RequestTermination();
}

}  // namespace spatialmux
