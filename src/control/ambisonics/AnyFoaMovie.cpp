// What a movie that is not the camera's must hold to be converted, and how.
#include "control/ambisonics/AnyFoaMovie.h"

#include <cmath>
#include <fstream>

#include "audio/ByteOrder.h"
#include "control/job/OutputContainer.h"
#include "control/job/SphericalVideoFromV1.h"
#include "iso/BoxHeader.h"
#include "movie/RecordingMetadataReading.h"

namespace spatialmux {

namespace {

const TrackMetadata* FirstTrack(const CheckReport& report, const char* handler) {
    if (!report.metadata) return nullptr;
    for (const TrackMetadata& track : report.metadata->tracks) {
        if (track.handler == handler) return &track;
    }
    return nullptr;
}

// The channels as the user declares them.
AcnChannels ChosenChannels(const std::string& ambisonics, float* wGain) {
    if (ambisonics == "fuma") {
        // W X Y Z: W from channel 0, Y from 2, Z from 3, X from 1.
        *wGain = static_cast<float>(std::sqrt(2.0));
        return {0, 2, 3, 1};
    }
    *wGain = 1.0f;
    return {0, 1, 2, 3};
}

const char* const kUndeclared =
    "its four audio channels are not declared as ambisonics (no SA3D box, no ambisonic "
    "layout): say what they are with --ambisonics ambix (ACN/SN3D, W Y Z X) or --ambisonics "
    "fuma (Furse-Malham, W X Y Z)";

}  // namespace

std::vector<uint8_t> SphericalUuidBox(uint8_t stereoMode) {
    std::string xml =
        "<?xml version=\"1.0\"?><rdf:SphericalVideo "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
        "xmlns:GSpherical=\"http://ns.google.com/videos/1.0/spherical/\">"
        "<GSpherical:Spherical>true</GSpherical:Spherical>"
        "<GSpherical:Stitched>true</GSpherical:Stitched>"
        "<GSpherical:StitchingSoftware>spatialmux</GSpherical:StitchingSoftware>"
        "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>";
    if (stereoMode == 1) xml += "<GSpherical:StereoMode>top-bottom</GSpherical:StereoMode>";
    if (stereoMode == 2) xml += "<GSpherical:StereoMode>left-right</GSpherical:StereoMode>";
    xml += "</rdf:SphericalVideo>";
    std::vector<uint8_t> box;
    AppendBE32(box, static_cast<uint32_t>(8 + 16 + xml.size()));
    box.insert(box.end(), {'u', 'u', 'i', 'd'});
    box.insert(box.end(), std::begin(kSphericalUuid), std::end(kSphericalUuid));
    box.insert(box.end(), xml.begin(), xml.end());
    return box;
}

std::vector<uint8_t> AcnSn3dSa3dBox() {
    std::vector<uint8_t> box;
    AppendBE32(box, 36);
    box.insert(box.end(), {'S', 'A', '3', 'D'});
    box.push_back(0);    // version
    box.push_back(0);    // ambisonic type: periphonic
    AppendBE32(box, 1);  // order
    box.push_back(0);    // channel ordering: ACN
    box.push_back(0);    // normalization: SN3D
    AppendBE32(box, 4);  // channels
    for (uint32_t channel = 0; channel < 4; ++channel) AppendBE32(box, channel);
    return box;
}

bool CopiesAudio(const FoaPlan& plan, const std::string& output,
                 const output::AudioEncoding& audio) {
    if (plan.channels != AcnChannels{0, 1, 2, 3} || plan.wGain != 1.0f) return false;
    if (audio.codec != output::AudioCodec::Pcm && audio.bitRateChosen) return false;
    switch (audio.codec) {
        case output::AudioCodec::Pcm:
            return ContainerFor(output) == OutputContainer::Mov &&
                   (plan.codec == "pcm_s16le" || plan.codec == "pcm_s16be" ||
                    plan.codec == "pcm_s24le" || plan.codec == "pcm_s24be");
        case output::AudioCodec::Aac:
            return plan.codec == "aac";
        case output::AudioCodec::Opus:
            return plan.codec == "opus" && plan.ambisonicLayout;
    }
    return false;
}

std::variant<FoaPlan, std::string> PlanFoaConversion(const CheckReport& report,
                                                     const SpatialChoice& choice) {
    if (!report.probe) return "libavformat cannot read it as a movie: " + report.probeProblem;
    if (const std::string cut = CutShortProblem(report); !cut.empty()) return cut;
    if (Fragmented(report)) return std::string(kFragmentedMovie);
    int videoStreams = 0;
    std::vector<const StreamProbe*> audioStreams;
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.kind == StreamProbe::Kind::Video) ++videoStreams;
        if (stream.kind == StreamProbe::Kind::Audio) audioStreams.push_back(&stream);
    }
    if (videoStreams == 0) return std::string("it has no video track");
    if (audioStreams.empty()) return std::string("it has no audio track");
    const StreamProbe& audio = *audioStreams.front();
    if (audioStreams.size() > 1) {
        return "it has " + std::to_string(audioStreams.size()) + " audio tracks: the first one (" +
               audio.codec + ", " + std::to_string(audio.channels) +
               " channels) would be converted and the others left out; keep only the "
               "ambisonic track in the movie";
    }
    // The track's own channels, not what a box says of them: a declaration
    // that disagrees is refused, naming both.
    if (const std::string conflict = ChannelDeclarationConflict(report); !conflict.empty()) {
        return conflict;
    }
    if (const int channels = TrackChannels(report); channels != 4) {
        return "its audio has " + std::to_string(channels) +
               " channels, not the four of first-order ambisonics";
    }
    if (audio.sampleRate <= 0) return std::string("its audio has no sample rate");
    if (AudioTrackEmpty(report)) return std::string(kNoAudioSamples);

    FoaPlan plan;
    plan.sampleRate = audio.sampleRate;
    plan.codec = audio.codec;
    plan.ambisonicLayout = audio.ambisonicLayout;
    const TrackMetadata* audioTrack = FirstTrack(report, "soun");
    if (audioTrack != nullptr) plan.maxBitRate = audioTrack->maxBitRate.value_or(0);
    std::string problem;
    if (!choice.ambisonics.empty()) {
        plan.channels = ChosenChannels(choice.ambisonics, &plan.wGain);
        plan.declaredBy = "--ambisonics " + choice.ambisonics;
    } else if (audioTrack != nullptr && audioTrack->sa3d) {
        const auto declared = DeclaredAmbisonicChannels(report, &problem);
        if (!declared) return "it cannot be converted: " + problem;
        plan.channels = *declared;
        plan.declaredBy = "its SA3D box";
    } else if (audio.ambisonicLayout) {
        plan.channels = {0, 1, 2, 3};
        plan.declaredBy = "its ambisonic channel layout";
    } else {
        return std::string(kUndeclared);
    }

    if (const std::string unreadable = UnreadableVideoDeclaration(report); !unreadable.empty()) {
        return unreadable;
    }
    const TrackMetadata* video = FirstTrack(report, "vide");
    if (video == nullptr || video->sampleEntryBox.empty()) {
        return std::string("its video sample entry cannot be read whole");
    }
    plan.videoSampleEntry = video->sampleEntryBox;
    if (!video->sphericalUuidBox.empty()) {
        const auto sphere = SphericalVideoFromUuidBox(video->sphericalUuidBox);
        if (!sphere) {
            return std::string(
                "its spherical video metadata (V1) does not say an equirectangular 360 video");
        }
        plan.sphere = *sphere;
        plan.uuidBox = video->sphericalUuidBox;
    } else if (video->sv3d) {
        if (video->projection != "equi") {
            return "its spherical video metadata (V2) says the projection '" + video->projection +
                   "', not equirectangular";
        }
        plan.sphere.stereoMode = video->stereoMode.value_or(0);
        plan.uuidBox = SphericalUuidBox(plan.sphere.stereoMode);
    } else if (choice.projection == "equirectangular") {
        plan.uuidBox = SphericalUuidBox(0);
    } else {
        return std::string(
            "its video has no spherical metadata: if it is an equirectangular 360 video, say so "
            "with --projection equirectangular");
    }

    std::ifstream file(report.path, std::ios::binary | std::ios::ate);
    const auto length = file.tellg();
    if (!file || length <= 0) return std::string("the file cannot be read");
    plan.recording = ReadRecordingMetadata(file, static_cast<uint64_t>(length), 0);
    return plan;
}

}  // namespace spatialmux
