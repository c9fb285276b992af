#include "control/binaural/BinauralCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "audio/CubeDecoder.h"
#include "audio/WavWriter.h"
#include "control/ambisonics/AmbisonicInput.h"
#include "control/job/HumanSize.h"
#include "control/job/InertTestPausePoints.h"
#include "control/job/JobPreflight.h"
#include "control/job/OutputCommit.h"
#include "control/job/SphericalVideoFromV1.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/RecordingMetadataReading.h"
#include "output/MetadataTransplant.h"
#include "output/Remux.h"
#include "output/ffmpeg/BinauralRenderer.h"
#include "platform/FileFacts.h"
#include "platform/PathParts.h"

namespace spatialmux {

namespace {

// The ears' AAC: 128 kb/s a channel, as a conversion's AAC has.
constexpr int64_t kAacBitRate = 256000;
// The encoder's frame: the most an encoded track's length may differ by.
constexpr int64_t kCodecFrame = 1024;

double Decibels(double value) {
    return value > 0.0 ? 20.0 * std::log10(value) : kSilentPeak;
}

// The progress of the whole render, from its phases' shares; remembers
// whether the caller asked to stop.
class Steps {
public:
    explicit Steps(const BinauralProgress& report) : progress(report) {}
    // `done` of `total` within the phase [from, to] of the whole; false once
    // the caller asked to stop.
    bool At(float from, float to, int64_t done, int64_t total) {
        const double share =
            total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0)
                      : 0.0;
        const auto percent = static_cast<float>(from + (to - from) * share);
        if (!stopped && progress && !progress(percent)) stopped = true;
        return !stopped;
    }
    bool Stopped() const { return stopped; }

private:
    const BinauralProgress& progress;
    bool stopped = false;
};

// One render of the whole audio: every block of the input through a fresh
// graph, the ears' samples handed to `take` (which may change them) as they
// come. False with `problem` set on a failure or a stop.
template <typename Take>
bool RenderPass(const CheckReport& report, const output::BinauralSettings& settings, Steps& steps,
                float from, float to, Take take, std::string* problem) {
    const auto input = AmbisonicInput::Open(report, problem);
    if (!input) return false;
    const auto renderer = output::BinauralRenderer::Open(settings, problem);
    if (!renderer) return false;
    const int64_t total = input->TotalInstants();
    AcnAudio block;
    std::vector<float> ears;
    int64_t done = 0;
    for (;;) {
        if (!steps.At(from, to, done, total)) {
            *problem = "stopped";
            return false;
        }
        if (!input->Next(&block, problem)) {
            if (!problem->empty()) return false;
            break;
        }
        const int count = static_cast<int>(block[0].size());
        if (!renderer->Render({block[0].data(), block[1].data(), block[2].data(), block[3].data()},
                              count, &ears, problem) ||
            !take(ears, problem)) {
            return false;
        }
        ears.clear();
        done += count;
    }
    if (total > 0 && done + kCodecFrame < total) {
        *problem = "the audio ends early: " + std::to_string(done) + " of " +
                   std::to_string(total) + " instants could be read";
        return false;
    }
    return renderer->Finish(&ears, problem) && take(ears, problem);
}

// The remux's questions answered from the render's progress; its
// diagnostics kept for the failure's message.
class RenderRemuxJob final : public output::RemuxJob {
public:
    RenderRemuxJob(Steps& progress, float start, float end)
        : steps(progress), from(start), to(end) {}
    void Progress(int64_t done, int64_t total) override {
        steps.At(from, to, done, total);
        TestPausePoint("binaural-mux");
    }
    bool Cancelled() override { return steps.Stopped(); }
    void Diagnostic(const std::string& text) override { diagnostics += text; }
    std::string Diagnostics() const {
        std::string text = diagnostics;
        std::replace(text.begin(), text.end(), '\n', ' ');
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    }

private:
    Steps& steps;
    float from;
    float to;
    std::string diagnostics;
};

// Why the HRTF file cannot be read at all; empty when it can be opened.
std::string UnreadableHrtf(const std::string& path) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0) {
        if (errno == ENOENT) return "the HRTF file " + path + " does not exist";
        return "the HRTF file " + path + " cannot be read: " + std::strerror(errno);
    }
    if (!S_ISREG(facts.st_mode)) return "the HRTF file " + path + " is not a regular file";
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "the HRTF file " + path + " cannot be read: " + std::strerror(errno);
    close(fd);
    return std::string();
}

const StreamProbe* FirstStreamOf(const std::optional<MediaProbe>& probe, StreamProbe::Kind kind) {
    if (!probe) return nullptr;
    for (const StreamProbe& stream : probe->streams) {
        if (stream.kind == kind) return &stream;
    }
    return nullptr;
}

bool Spherical(const TrackMetadata* video) {
    return video != nullptr && (video->sphericalUuid || video->sv3d);
}

// The pieces of the input's video track that carry its spherical metadata
// and the recording's dates and tags, for the output's moov. False (nothing
// to carry) for a movie without a moov that holds them.
bool VideoPieces(const CheckReport& report, const AmbisonicInput& input,
                 std::vector<uint8_t>* sampleEntry, std::vector<uint8_t>* uuid,
                 RecordingMetadata* recording) {
    if (const MovieReader* camera = input.Camera()) {
        *sampleEntry = camera->VideoSampleEntry();
        *uuid = camera->UuidBox();
        *recording = camera->Recording();
        return !sampleEntry->empty();
    }
    const TrackMetadata* video = FirstTrack(report.metadata, "vide");
    if (video == nullptr || video->sampleEntryBox.empty()) return false;
    *sampleEntry = video->sampleEntryBox;
    *uuid = video->sphericalUuidBox;
    std::ifstream file(report.path, std::ios::binary | std::ios::ate);
    const auto length = file.tellg();
    if (!file || length <= 0) return false;
    *recording = ReadRecordingMetadata(file, static_cast<uint64_t>(length), 0);
    return true;
}

// What the written file must hold, read back with libavformat: one stereo
// audio track of every instant rendered (an encoder's last frame aside);
// for a movie, the input's video packets and its spherical metadata too.
// Empty when it does; the mismatch otherwise.
std::string CheckWritten(const std::string& path, BinauralContainer container,
                         const CheckReport& report, int rate, int64_t instants) {
    std::string problem;
    const auto probe = ProbeMedia(path, &problem);
    if (!probe) return "the written file cannot be read back: " + problem;
    int audioStreams = 0;
    int videoStreams = 0;
    for (const StreamProbe& stream : probe->streams) {
        audioStreams += stream.kind == StreamProbe::Kind::Audio ? 1 : 0;
        videoStreams += stream.kind == StreamProbe::Kind::Video ? 1 : 0;
    }
    const StreamProbe* audio = FirstStreamOf(probe, StreamProbe::Kind::Audio);
    if (audioStreams != 1 || audio->channels != 2 || audio->sampleRate != rate) {
        return "the written file does not hold one stereo track at " + std::to_string(rate) + " Hz";
    }
    const bool encoded = container == BinauralContainer::M4a || container == BinauralContainer::Mp4;
    // A length that cannot be read is no length that matches.
    if (audio->frames <= 0) return "the written audio's length cannot be read";
    if (audio->frames < instants - (encoded ? kCodecFrame : 0) ||
        audio->frames > instants + (encoded ? kCodecFrame : 0)) {
        return "the written audio holds " + std::to_string(audio->frames) + " instants, not " +
               std::to_string(instants);
    }
    if (container != BinauralContainer::Mp4 && container != BinauralContainer::Mov) {
        return videoStreams == 0 ? std::string() : "the written file holds video";
    }
    const StreamProbe* videoIn = FirstStreamOf(report.probe, StreamProbe::Kind::Video);
    const StreamProbe* videoOut = FirstStreamOf(probe, StreamProbe::Kind::Video);
    if (videoStreams != 1 || videoIn == nullptr ||
        videoOut->indexEntries != videoIn->indexEntries) {
        return "the written movie does not hold the input's video packets";
    }
    if (Spherical(FirstTrack(report.metadata, "vide"))) {
        std::string why;
        if (!Spherical(FirstTrack(ReadMovieMetadata(path, &why), "vide"))) {
            return "the written movie lost the spherical video metadata";
        }
    }
    return std::string();
}

}  // namespace

BinauralContainer BinauralContainerFor(const std::string& output) {
    const std::string extension = platform::LowerExtension(output);
    if (extension == ".wav") return BinauralContainer::Wav;
    if (extension == ".m4a") return BinauralContainer::M4a;
    if (extension == ".mp4") return BinauralContainer::Mp4;
    if (extension == ".mov") return BinauralContainer::Mov;
    return BinauralContainer::Unsupported;
}

const char* BinauralContainerWords(BinauralContainer container) {
    switch (container) {
        case BinauralContainer::Wav:
            return "stereo 16-bit PCM WAV";
        case BinauralContainer::M4a:
            return "stereo AAC";
        case BinauralContainer::Mp4:
            return "video and stereo AAC";
        case BinauralContainer::Mov:
            return "video and stereo 16-bit PCM";
        case BinauralContainer::Unsupported:
            break;
    }
    return "nothing";
}

std::string DefaultBinauralPath(const std::string& movie) {
    return platform::WithEnding(movie, ".binaural.m4a");
}

void RemoveBinauralLeftovers(const std::string& output) {
    OutputCommit::RemoveLeftovers(output);
}

std::optional<BinauralResult> MakeBinaural(const BinauralRequest& request,
                                           const BinauralProgress& progress, std::string* problem) {
    SilenceMediaLog();
    BinauralResult result;
    result.container = BinauralContainerFor(request.output);
    result.hrtfPath = request.hrtf.empty() ? kDefaultHrtfPath : request.hrtf;
    auto fail = [problem](std::string why) {
        *problem = std::move(why);
        return std::nullopt;
    };
    if (result.container == BinauralContainer::Unsupported) {
        return fail(request.output + ": name the output .wav, .m4a, .mp4 or .mov");
    }
    // Every check that needs no audio, before any audio is read.
    if (const auto refusal = CheckInputFile(request.input)) return fail(refusal->cause);
    std::string why = UnreadableHrtf(result.hrtfPath);
    if (!why.empty()) return fail(why);
    if (platform::CurrentFileFacts().SameFile(request.input, request.output)) {
        return fail(request.output + ": the output would overwrite the input");
    }
    if (const auto refusal = CheckOutputPlaceAnyContainer(request.output)) {
        return fail(refusal->cause);
    }
    const CheckReport report = CheckMovieFile(request.input);
    const bool withVideo =
        result.container == BinauralContainer::Mp4 || result.container == BinauralContainer::Mov;
    auto input = AmbisonicInput::Open(report, &why);
    if (!input) return fail(request.input + ": " + why);
    if (withVideo && FirstStreamOf(report.probe, StreamProbe::Kind::Video) == nullptr) {
        return fail(request.input + ": it has no video to copy; name the output .wav or .m4a");
    }
    result.cameraMovie = input->CameraMovie();
    result.sampleRate = input->SampleRate();

    output::BinauralSettings settings;
    settings.hrtfPath = result.hrtfPath;
    settings.feeds = CubeDecoderFacing(request.look, request.rotation);
    settings.speakers = CubeSpeakers();
    settings.sampleRate = result.sampleRate;
    // The HRTF set is read here: an unusable one is said before any work.
    if (!output::BinauralRenderer::Open(settings, &why)) return fail(why);

    // The output's hidden file, taken before the work: a second render to
    // the same output is refused at once.
    auto commit = OutputCommit::Begin(request.output, &why);
    if (!commit) return fail(why);

    // Phases of the whole: the measuring render, the written render, and
    // for the encoded or movie outputs the remux.
    const bool remuxed = result.container != BinauralContainer::Wav;
    const float measured = remuxed ? 30.0f : 50.0f;
    const float rendered = remuxed ? 60.0f : 100.0f;
    Steps steps(progress);

    // First pass: the peak of the render at 0 dB.
    float peak = 0.0f;
    const auto measure = [&peak](const std::vector<float>& ears, std::string*) {
        for (const float sample : ears) peak = std::max(peak, std::fabs(sample));
        return true;
    };
    if (!RenderPass(report, settings, steps, 0.0f, measured, measure, &why)) {
        return fail(request.input + ": " + why);
    }
    TestPausePoint("binaural-measured");
    result.gainDecibels =
        peak > 0.0f ? std::min(kBinauralMostGainDecibels, kBinauralPeakDecibels - Decibels(peak))
                    : kBinauralMostGainDecibels;
    const auto gain = static_cast<float>(std::pow(10.0, result.gainDecibels / 20.0));

    // The WAV: the output itself, or beside it the one the remux reads.
    std::string wavPath = commit->TemporaryPath();
    int wavFd = -1;
    if (remuxed) {
        auto companion = commit->CreateCompanion(".wav", &why);
        if (!companion) return fail(why);
        wavPath = companion->first;
        wavFd = companion->second.Release();
    } else {
        wavFd = dup(commit->Fd());
    }
    WavWriter writer(2, static_cast<uint32_t>(result.sampleRate));
    writer.OpenCreated(wavPath, wavFd);

    // Second pass: the render with the gain, written.
    float written = 0.0f;
    const auto write = [&](std::vector<float>& ears, std::string* failure) {
        for (float& sample : ears) {
            sample *= gain;
            written = std::max(written, std::fabs(sample));
            result.samplesOverFullScale += std::fabs(sample) > 1.0f ? 1 : 0;
        }
        writer.WriteInterleaved(ears.data(), static_cast<int64_t>(ears.size() / 2));
        result.instants += static_cast<int64_t>(ears.size() / 2);
        TestPausePoint("binaural-render");
        if (!writer.Failed()) return true;
        *failure = std::string("cannot write the ears' audio: ") +
                   std::strerror(writer.ErrorNumber() != 0 ? writer.ErrorNumber() : EIO);
        return false;
    };
    if (!RenderPass(report, settings, steps, measured, rendered, write, &why)) {
        return fail(request.input + ": " + why);
    }
    if (!writer.Finish()) {
        return fail(std::string("cannot write the ears' audio: ") +
                    std::strerror(writer.ErrorNumber() != 0 ? writer.ErrorNumber() : EIO));
    }
    result.peakDecibels = Decibels(written);

    if (remuxed) {
        output::RemuxRequest remux;
        remux.moviePath = withVideo ? request.input : std::string();
        remux.wavPath = wavPath;
        remux.outputPath = commit->TemporaryPath();
        remux.containerName = request.output;
        remux.outputFd = commit->Fd();
        if (result.container != BinauralContainer::Mov) {
            remux.audio = output::AudioEncoding{output::AudioCodec::Aac, kAacBitRate};
        }
        RenderRemuxJob job(steps, rendered, 100.0f);
        const output::RemuxOutcome outcome = output::Remux(remux, job);
        if (outcome.status == output::RemuxStatus::Cancelled || steps.Stopped()) {
            return fail(request.input + ": stopped");
        }
        if (outcome.status != output::RemuxStatus::Completed) {
            return fail(request.output + ": cannot be written (" + job.Diagnostics() + ")");
        }
        if (!commit->Remove(wavPath, &why)) return fail(why);
    }
    if (withVideo) {
        std::vector<uint8_t> sampleEntry;
        std::vector<uint8_t> uuid;
        RecordingMetadata recording;
        if (VideoPieces(report, *input, &sampleEntry, &uuid, &recording) &&
            output::TransplantIntoFile(commit->TemporaryPath(), sampleEntry, uuid, {}, recording,
                                       SphericalVideoFromUuidBox(uuid)) !=
                output::TransplantResult::Written) {
            return fail(request.output +
                        ": the spherical metadata could not be written into the movie");
        }
    }
    why = CheckWritten(commit->TemporaryPath(), result.container, report, result.sampleRate,
                       result.instants);
    if (!why.empty()) return fail(request.output + ": " + why);
    if (!steps.At(100.0f, 100.0f, 0, 0)) return fail(request.input + ": stopped");
    if (!commit->Commit(&why)) return fail(why);
    result.outputPath = commit->FinalPath();
    return result;
}

std::string BinauralSummary(const BinauralRequest& request, const BinauralResult& result,
                            double seconds, uint64_t bytes) {
    char level[160];
    if (result.peakDecibels <= kSilentPeak) {
        std::snprintf(level, sizeof level, "binaural: silent (gain %+.1f dB)\n",
                      result.gainDecibels);
    } else {
        std::snprintf(level, sizeof level, "binaural: peak %.1f dBFS after a gain of %+.1f dB%s\n",
                      result.peakDecibels, result.gainDecibels,
                      result.samplesOverFullScale > 0 ? " (clipped)" : "");
    }
    char facing[96];
    std::snprintf(facing, sizeof facing, "facing azimuth %+.0f, elevation %+.0f",
                  request.look.azimuthDegrees, request.look.elevationDegrees);
    const std::string turned =
        request.rotation.IsIdentity()
            ? std::string()
            : "; the sound turned by " + AmbisonicRotationWords(request.rotation);
    char done[64];
    std::snprintf(done, sizeof done, " in %.1f s\n", seconds);
    return std::string(level) + "binaural " + platform::FileNameOf(request.input) + " -> " +
           platform::FileNameOf(result.outputPath) + " (" + HumanSize(bytes) + ", " +
           BinauralContainerWords(result.container) + ", " + std::to_string(result.sampleRate) +
           " Hz; " + facing + turned + "; HRTF " + platform::FileNameOf(result.hrtfPath) + ")" +
           done;
}

}  // namespace spatialmux
