#include "control/soundmap/SoundMapCommand.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "control/ambisonics/ConvertedAudioStretch.h"
#include "movie/AmbisonicLayout.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "movie/ffmpeg/AmbisonicAudio.h"
#include "movie/ffmpeg/VideoFrames.h"
#include "output/PngWriting.h"
#include "output/SoundMapDrawing.h"
#include "platform/PathParts.h"

namespace spatialmux {

namespace {

// The widest tile: six of them side by side in threes stay under 1200 pixels.
constexpr int kMaxTileWidth = 384;

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return a == b || std::filesystem::equivalent(a, b, error);
}

// Where the audio comes from: the camera's chain, or a decoder.
class AmbisonicSource {
public:
    bool OpenCamera(const std::string& path, std::string* problem) {
        camera = std::make_unique<MovieReader>(kFrameSize);
        if (camera->Open(path, kFrameSize) != MovieReader::kOpenReady) {
            *problem = "its camera audio cannot be read";
            return false;
        }
        gain = ChooseGain(camera->SoftwareText(), camera->MakerNoteFlag());
        return true;
    }
    bool OpenOther(const std::string& path, const AcnChannels& channels, std::string* problem) {
        return decoder.Open(path, channels, problem);
    }
    int Rate() const { return camera ? camera->Track().timescale : decoder.SampleRate(); }
    int64_t Total() const { return camera ? camera->GetTotalSamples() : decoder.TotalSamples(); }
    bool Read(int64_t first, int64_t count, AcnAudio* audio, std::string* problem) {
        return camera ? ReadConvertedStretch(*camera, gain, first, count, audio, problem)
                      : decoder.ReadStretch(first, count, audio, problem);
    }

private:
    std::unique_ptr<MovieReader> camera;
    float gain = 1.0f;
    AmbisonicAudioDecoder decoder;
};

int ColumnsFor(int tiles) {
    if (tiles <= 3) return tiles;
    return tiles == 4 ? 2 : 3;
}

std::string TileLabel(const SoundMapMoment& moment) {
    char text[96];
    if (moment.map.peakDecibels < output::kQuietestPeakDecibels) {
        std::snprintf(text, sizeof text, "%.2f s  silent", moment.seconds);
        return text;
    }
    std::snprintf(text, sizeof text, "%.2f s  az %+.0f el %+.0f  %+.0f dB", moment.seconds,
                  moment.map.peak.azimuthDegrees, moment.map.peak.elevationDegrees,
                  moment.map.peakDecibels);
    return text;
}

}  // namespace

std::string DefaultSoundMapPath(const std::string& input) {
    return platform::WithEnding(input, ".soundmap.png");
}

std::vector<double> SpreadMoments(double duration, int count) {
    std::vector<double> moments;
    for (int i = 0; i < count; ++i) moments.push_back((i + 0.5) * duration / count);
    return moments;
}

void TileOrigin(const SoundMapResult& result, int index, int* x, int* y) {
    output::TileOriginInSheet(index, result.columns, result.tileWidth,
                              result.tileHeight + output::kLabelStripHeight, x, y);
}

std::optional<SoundMapResult> MakeSoundMap(const SoundMapRequest& request, std::string* problem) {
    SilenceMediaLog();
    SoundMapResult result;
    result.outputPath =
        request.output.empty() ? DefaultSoundMapPath(request.input) : request.output;
    if (!std::ifstream(request.input, std::ios::binary)) {
        *problem = "the file cannot be opened";
        return std::nullopt;
    }
    if (SameFile(request.input, result.outputPath)) {
        *problem = "the sound map would overwrite the movie itself";
        return std::nullopt;
    }

    // What the movie is, from its headers alone.
    const CheckReport report = CheckMovieFile(request.input);
    AmbisonicSource audio;
    if (report.kind == CheckReport::Kind::CameraMovie) {
        if (!report.convertible) {
            *problem = "this camera movie cannot be mapped: " + report.notConvertible;
            return std::nullopt;
        }
        result.cameraMovie = true;
        if (!audio.OpenCamera(request.input, problem)) return std::nullopt;
    } else if (report.kind == CheckReport::Kind::OtherMovie) {
        *problem = CutShortProblem(report);
        if (!problem->empty()) return std::nullopt;
        const auto channels = DeclaredAmbisonicChannels(report, problem);
        if (!channels) return std::nullopt;
        if (!audio.OpenOther(request.input, *channels, problem)) return std::nullopt;
    } else {
        // A movie cut before its index (FFmpeg writes it last) looks like this too.
        *problem = "it cannot be read as a movie, or it is cut short before its index (" +
                   report.probeProblem + ")";
        return std::nullopt;
    }

    VideoFrameDecoder video;
    if (!video.Open(request.input, problem)) return std::nullopt;
    if (video.Width() <= 0 || video.Height() <= 0) {
        *problem = "its video has no picture size";
        return std::nullopt;
    }

    // The moments, all checked before anything is decoded.
    const int rate = audio.Rate();
    const int64_t total = audio.Total();
    if (rate <= 0 || total <= 0) {
        *problem = "its audio is empty, or its length is unknown";
        return std::nullopt;
    }
    const double audioSeconds = static_cast<double>(total) / rate;
    const double videoSeconds = video.DurationSeconds();
    result.durationSeconds =
        videoSeconds > 0.0 ? std::min(audioSeconds, videoSeconds) : audioSeconds;
    const std::vector<double> times =
        request.at.empty() ? SpreadMoments(result.durationSeconds, request.moments) : request.at;
    if (times.empty()) {
        *problem = "no moments to map";
        return std::nullopt;
    }
    for (const double t : times) {
        if (!(t >= 0.0) || !(t < result.durationSeconds)) {
            *problem = "the moment " + Seconds(t) + " is past the end (the movie is " +
                       Seconds(result.durationSeconds) + " long)";
            return std::nullopt;
        }
    }

    result.tileWidth = std::max(2, std::min(kMaxTileWidth, video.Width()) & ~1);
    result.tileHeight =
        std::max(2, static_cast<int>(std::lround(static_cast<double>(result.tileWidth) *
                                                 video.Height() / video.Width())) &
                        ~1);
    result.columns = ColumnsFor(static_cast<int>(times.size()));

    const int64_t window = std::min<int64_t>(total, std::llround(kSoundMapWindowSeconds * rate));
    const bool turned = !request.rotation.IsIdentity();
    const Rotation3 turn = RotationMatrix(request.rotation);
    std::vector<output::RgbImage> pictures;
    for (const double t : times) {
        SoundMapMoment moment;
        moment.seconds = t;
        const int64_t first =
            std::clamp<int64_t>(std::llround(t * rate) - window / 2, 0, total - window);
        AcnAudio stretch;
        std::string why;
        if (!audio.Read(first, window, &stretch, &why)) {
            *problem = "cannot read the audio at " + Seconds(t) + ": " + why;
            return std::nullopt;
        }
        if (turned) {
            RotateAmbisonics(turn, stretch[1].data(), stretch[2].data(), stretch[3].data(), window);
        }
        moment.covariance.Add(stretch[0].data(), stretch[1].data(), stretch[2].data(),
                              stretch[3].data(), window);
        moment.map = ComputeEnergyMap(moment.covariance, result.tileWidth, result.tileHeight);

        output::RgbImage picture(result.tileWidth, result.tileHeight);
        if (!video.DecodePictureAt(t, result.tileWidth, result.tileHeight, &picture.pixels, &why)) {
            *problem = "cannot decode the picture at " + Seconds(t) + ": " + why;
            return std::nullopt;
        }
        pictures.push_back(std::move(picture));
        result.moments.push_back(std::move(moment));
    }

    std::vector<double> peaks;
    for (const SoundMapMoment& moment : result.moments) peaks.push_back(moment.map.peakDecibels);
    const output::HeatScale scale = output::ScaleForPeaks(peaks);
    std::vector<output::RgbImage> tiles;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        tiles.push_back(output::DrawSoundMapTile(std::move(pictures[i]), result.moments[i].map,
                                                 scale, TileLabel(result.moments[i])));
    }
    const output::RgbImage sheet = output::LayOutContactSheet(tiles, result.columns, scale);
    std::string why;
    if (!output::WritePngFile(sheet, result.outputPath, &why)) {
        *problem = "cannot write the sound map: " + why;
        return std::nullopt;
    }
    return result;
}

int RunSoundMap(const SoundMapRequest& request, std::FILE* out, std::FILE* err) {
    // A file size limit must end in a failed write and the partial PNG's
    // removal, not kill the process with the partial file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::string problem;
    const auto result = MakeSoundMap(request, &problem);
    if (!result) {
        std::fprintf(err, "spatialmux --soundmap: %s: %s\n", request.input.c_str(),
                     problem.c_str());
        return 1;
    }
    for (const SoundMapMoment& moment : result->moments) {
        if (moment.map.peakDecibels < output::kQuietestPeakDecibels) {
            std::fprintf(out, "%8.2f s: silent\n", moment.seconds);
            continue;
        }
        std::fprintf(out, "%8.2f s: loudest from azimuth %+.0f, elevation %+.0f (%.1f dB)\n",
                     moment.seconds, moment.map.peak.azimuthDegrees,
                     moment.map.peak.elevationDegrees, moment.map.peakDecibels);
    }
    const std::string turned = request.rotation.IsIdentity()
                                   ? std::string()
                                   : ", turned by " + AmbisonicRotationWords(request.rotation);
    std::fprintf(out, "sound map of %s (%zu moments, %s audio%s) written to %s\n",
                 request.input.c_str(), result->moments.size(),
                 result->cameraMovie ? "the converted" : "its", turned.c_str(),
                 result->outputPath.c_str());
    std::fflush(out);
    return 0;
}

}  // namespace spatialmux
