#include "control/ambisonics/AmbisonicInput.h"

#include <algorithm>

#include "control/ambisonics/ConvertedAudioStretch.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"

namespace spatialmux {

namespace {

bool DeclaresAmbisonics(const CheckReport& report) {
    if (!report.metadata) return false;
    return std::any_of(report.metadata->tracks.begin(), report.metadata->tracks.end(),
                       [](const TrackMetadata& track) { return track.sa3d.has_value(); });
}

constexpr const char* kNoAmbisonics =
    "it has no first-order ambisonic audio (no SA3D box, and no four-channel Opus ambisonics)";

}  // namespace

std::unique_ptr<AmbisonicInput> AmbisonicInput::Open(const CheckReport& report,
                                                     std::string* problem) {
    auto input = std::make_unique<AmbisonicInput>();
    switch (report.kind) {
        case CheckReport::Kind::CameraMovie: {
            if (!report.convertible) {
                *problem = "this camera movie cannot be converted, so not rendered either: " +
                           report.notConvertible;
                return nullptr;
            }
            input->camera = std::make_unique<MovieReader>(kFrameSize);
            if (input->camera->Open(report.path, kFrameSize) != MovieReader::kOpenReady) {
                *problem = "its camera audio cannot be read";
                return nullptr;
            }
            input->camera->SeekToTime(0);
            input->gain = ChooseGain(input->camera->SoftwareText(), input->camera->MakerNoteFlag());
            return input;
        }
        case CheckReport::Kind::OtherMovie: {
            *problem = CutShortProblem(report);
            if (problem->empty()) *problem = ChannelDeclarationConflict(report);
            if (!problem->empty()) return nullptr;
            // The channels as an SA3D box declares them; without one, in
            // order when the decoder calls the audio ambisonic (Opus channel
            // mapping family 2 is ACN/SN3D by definition).
            if (DeclaresAmbisonics(report)) {
                const auto channels = DeclaredAmbisonicChannels(report, problem);
                if (!channels || !input->decoder.Open(report.path, *channels, problem)) {
                    return nullptr;
                }
                return input;
            }
            std::string why;
            if (!input->decoder.Open(report.path, AcnChannels{0, 1, 2, 3}, &why)) {
                *problem = std::string(kNoAmbisonics) + ": " + why;
                return nullptr;
            }
            if (!input->decoder.DecodesAmbisonics()) {
                *problem = kNoAmbisonics;
                return nullptr;
            }
            return input;
        }
        case CheckReport::Kind::NotAMovie:
            break;
    }
    // A movie cut before its index (FFmpeg writes it last) looks like this too.
    *problem = "it cannot be read as a movie, or it is cut short before its index (" +
               report.probeProblem + ")";
    return nullptr;
}

int AmbisonicInput::SampleRate() const {
    return camera ? camera->Track().timescale : decoder.SampleRate();
}

int64_t AmbisonicInput::TotalInstants() const {
    return camera ? camera->GetTotalSamples() : decoder.TotalSamples();
}

bool AmbisonicInput::Next(AcnAudio* block, std::string* problem) {
    problem->clear();
    if (!camera) return decoder.ReadNext(block, problem);
    if (ended) return false;
    AcnFrame acn{};
    const int32_t instants = ReadConvertedFrame(*camera, gain, &acn, &ended);
    if (camera->HadShortRead()) {
        *problem = "the movie is cut short: its audio cannot be read to its end";
        return false;
    }
    if (instants <= 0) return false;
    for (std::size_t c = 0; c < acn.size(); ++c) {
        (*block)[c].assign(acn[c].begin(), acn[c].begin() + instants);
    }
    return true;
}

}  // namespace spatialmux
