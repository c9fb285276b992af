// The job methods of the controller: the movie check, the free-space check
// and the start of the conversion, inline or on a worker thread.
#include <cstdio>
#include <memory>

#include "audio/WavWriter.h"
#include "control/JobState.h"
#include "control/wrap_ffmpeg.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "output/Remux.h"
#include "platform/Backend.h"
#include "platform/FileFacts.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// The folder that will hold the output and the temporary WAV.
std::string OutputFolder(const std::string& outputPath) {
    const std::size_t slash = outputPath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return outputPath.substr(0, slash);
}

}  // namespace

std::string wrap_ffmpeg::TemporaryWavPath(const std::string& outputPath) {
    const std::size_t slash = outputPath.rfind('/');
    const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    std::string folder = OutputFolder(outputPath);
    if (folder.back() != '/') folder += '/';
    return folder + "." + name + ".wav";
}

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
    auto refuse = [](const char* alertKey) {
        wrap_ffmpeg().myAlert(platform::LocalizedString(alertKey));
        job_state::End(JobResult::Refused);
        return 0;
    };

    InitializeFfmpeg();
    if (CheckMovie(input) == 0) return refuse("alert3");

    // The input is never written: refuse an output, or a temporary WAV, that
    // is the input file itself under whatever name.
    const platform::FileFacts& facts = platform::CurrentFileFacts();
    if (facts.SameFile(input, output) || facts.SameFile(input, TemporaryWavPath(output))) {
        std::printf("error!! the output is the input file\n");
        std::fflush(stdout);
        return refuse("alert7");
    }

    // The WAV and the output are written in the output's folder: that is
    // the volume that needs the room. When its free space cannot be read
    // (a folder that does not exist), the job goes on and fails with its
    // own message when it cannot create its files.
    const double size = GetFileSize(input);
    const auto freeBytes = facts.FreeSpace(OutputFolder(output));
    const double free = freeBytes ? static_cast<double>(*freeBytes) : 0.0;
    std::printf("%f %f\n", size, free);
    std::fflush(stdout);
    // The edit needs one copy of the input (less on a volume that shares
    // blocks); the remux the WAV, the output and room to spare.
    if (freeBytes && size * (UsesEditEngine(output) ? 1.0 : 3.0) > free) return refuse("alert2");

    JobDictionary job;
    job["mp4"] = input;
    job["mov"] = output;
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
    int32_t result = -1;
    if (input != job.end() && output != job.end()) result = Convert(input->second, output->second);
    JobResult outcome = JobResult::Failed;
    if (result == 0)
        outcome = JobResult::Succeeded;
    else if (CancelRequested())
        outcome = JobResult::Cancelled;
    job_state::End(outcome);
    platform::CurrentBackend().RequestTermination();
}

}  // namespace spatialmux
