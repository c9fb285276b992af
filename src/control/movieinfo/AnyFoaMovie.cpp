// What a movie that is not the camera's must hold to be converted, and how.
#include "control/movieinfo/AnyFoaMovie.h"

#include <array>
#include <cmath>
#include <fstream>

#include "audio/ByteOrder.h"
#include "control/job/OutputContainer.h"
#include "control/job/SphericalVideoFromV1.h"
#include "iso/BoxHeader.h"
#include "movie/RecordingMetadataReading.h"
#include "movie/SphericalAgreement.h"
#include "movie/VideoTrackChoice.h"

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
AcnChannels ChosenChannels(AmbisonicsChoice ambisonics, float* wGain) {
    if (ambisonics == AmbisonicsChoice::FuMa) {
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

std::string DeclarationWords(const FoaPlan& plan) {
    switch (plan.declaredBy) {
        case FoaDeclaration::Sa3dBox:
            return "its SA3D box";
        case FoaDeclaration::ChannelLayout:
            return "its ambisonic channel layout";
        case FoaDeclaration::User:
            break;
    }
    return std::string("--ambisonics ") + AmbisonicsWord(plan.userSaid);
}

namespace {

// The V1 box of the XML elements `elements` (inside rdf:SphericalVideo,
// after the equirectangular projection).
std::vector<uint8_t> UuidBoxWith(uint8_t stereoMode, const std::string& elements) {
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
    xml += elements + "</rdf:SphericalVideo>";
    std::vector<uint8_t> box;
    AppendBE32(box, static_cast<uint32_t>(8 + 16 + xml.size()));
    box.insert(box.end(), {'u', 'u', 'i', 'd'});
    box.insert(box.end(), std::begin(kSphericalUuid), std::end(kSphericalUuid));
    box.insert(box.end(), xml.begin(), xml.end());
    return box;
}

std::string Element(const char* name, uint64_t value) {
    return std::string("<GSpherical:") + name + ">" + std::to_string(value) +
           "</GSpherical:" + name + ">";
}

}  // namespace

std::vector<uint8_t> SphericalUuidBox(uint8_t stereoMode) {
    return UuidBoxWith(stereoMode, "");
}

std::optional<std::vector<uint8_t>> SphericalUuidBoxFor(const output::SphericalVideo& sphere,
                                                        int width, int height) {
    const std::array<uint32_t, 4> bounds = {sphere.boundsTop, sphere.boundsBottom,
                                            sphere.boundsLeft, sphere.boundsRight};
    if (bounds == std::array<uint32_t, 4>{}) return SphericalUuidBox(sphere.stereoMode);
    // One view of a stereo picture is the cropped area.
    const double viewWidth = width / (sphere.stereoMode == 2 ? 2.0 : 1.0);
    const double viewHeight = height / (sphere.stereoMode == 1 ? 2.0 : 1.0);
    constexpr double kWhole = 4294967296.0;
    const double across =
        1.0 -
        (static_cast<double>(sphere.boundsLeft) + static_cast<double>(sphere.boundsRight)) / kWhole;
    const double down =
        1.0 -
        (static_cast<double>(sphere.boundsTop) + static_cast<double>(sphere.boundsBottom)) / kWhole;
    if (viewWidth < 1.0 || viewHeight < 1.0 || across <= 0.0 || down <= 0.0) return std::nullopt;
    const auto fullWidth = static_cast<uint64_t>(std::llround(viewWidth / across));
    const auto fullHeight = static_cast<uint64_t>(std::llround(viewHeight / down));
    const auto left = static_cast<uint64_t>(
        std::llround(sphere.boundsLeft / kWhole * static_cast<double>(fullWidth)));
    const auto top = static_cast<uint64_t>(
        std::llround(sphere.boundsTop / kWhole * static_cast<double>(fullHeight)));
    const auto box = UuidBoxWith(
        sphere.stereoMode,
        Element("CroppedAreaImageWidthPixels", static_cast<uint64_t>(viewWidth)) +
            Element("CroppedAreaImageHeightPixels", static_cast<uint64_t>(viewHeight)) +
            Element("FullPanoWidthPixels", fullWidth) +
            Element("FullPanoHeightPixels", fullHeight) + Element("CroppedAreaLeftPixels", left) +
            Element("CroppedAreaTopPixels", top));
    // What V1 now says must be what V2 says.
    const auto said = SphericalVideoFromUuidBox(box);
    if (!said ||
        !SameBounds({said->boundsTop, said->boundsBottom, said->boundsLeft, said->boundsRight},
                    bounds)) {
        return std::nullopt;
    }
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

bool EditKeepsEveryTrack(const FoaPlan& plan) {
    return plan.kept.empty() && plan.trakCount == 2;
}

bool CopiesAudio(const FoaPlan& plan, const std::string& output, const output::AudioEncoding& audio,
                 const AmbisonicRotation& rotation) {
    if (!rotation.IsIdentity()) return false;
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
    const auto chosenVideo = ChooseSphericalVideo(*report.probe, report.metadata);
    std::vector<const StreamProbe*> audioStreams;
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.kind == StreamProbe::Kind::Audio) audioStreams.push_back(&stream);
    }
    if (!chosenVideo) return std::string("it has no video track (a cover picture is none)");
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
    plan.tracks.videoTrackId = report.probe->streams[chosenVideo->stream].trackId;
    for (std::size_t k = 0; k < report.probe->streams.size(); ++k) {
        const StreamProbe& stream = report.probe->streams[k];
        // A cover picture is a tag of the movie's metadata, which the
        // output carries, not a track.
        if (k == chosenVideo->stream || &stream == &audio || stream.attachedPicture) continue;
        plan.kept.push_back({stream.trackId, k + 1, stream.kindName, stream.codec});
        plan.tracks.keptTrackIds.push_back(stream.trackId);
    }
    plan.trakCount = report.metadata ? report.metadata->tracks.size() : 0;
    plan.sampleRate = audio.sampleRate;
    plan.codec = audio.codec;
    plan.ambisonicLayout = audio.ambisonicLayout;
    const TrackMetadata* audioTrack = FirstTrack(report, "soun");
    if (audioTrack != nullptr) plan.maxBitRate = audioTrack->maxBitRate.value_or(0);
    std::string problem;
    if (choice.ambisonics != AmbisonicsChoice::FromMovie) {
        plan.channels = ChosenChannels(choice.ambisonics, &plan.wGain);
        plan.declaredBy = FoaDeclaration::User;
        plan.userSaid = choice.ambisonics;
    } else if (audioTrack != nullptr && audioTrack->sa3d) {
        const auto declared = DeclaredAmbisonicChannels(report, &problem);
        if (!declared) return "it cannot be converted: " + problem;
        plan.channels = *declared;
        plan.declaredBy = FoaDeclaration::Sa3dBox;
    } else if (audio.ambisonicLayout) {
        plan.channels = {0, 1, 2, 3};
        plan.declaredBy = FoaDeclaration::ChannelLayout;
    } else {
        return std::string(kUndeclared);
    }

    if (const std::string unreadable = UnreadableVideoDeclaration(report); !unreadable.empty()) {
        return unreadable;
    }
    const TrackMetadata* video = chosenVideo->track;
    if (video == nullptr || video->sampleEntryBox.empty()) {
        return std::string("its video sample entry cannot be read whole");
    }
    plan.videoSampleEntry = video->sampleEntryBox;
    if (const auto differences = SphericalDisagreements(*video); !differences.empty()) {
        std::string said;
        for (const std::string& difference : differences) {
            said += (said.empty() ? "" : "; ") + difference;
        }
        return "its two spherical video descriptions disagree (" + said +
               "): players that read V2, as most do first, would show it otherwise than "
               "those that read V1; correct the movie's spherical metadata first";
    }
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
        if (video->equiBounds) {
            plan.sphere.boundsTop = (*video->equiBounds)[0];
            plan.sphere.boundsBottom = (*video->equiBounds)[1];
            plan.sphere.boundsLeft = (*video->equiBounds)[2];
            plan.sphere.boundsRight = (*video->equiBounds)[3];
        }
        // V1 says the same crop, or nothing is written.
        const StreamProbe& picture = report.probe->streams[chosenVideo->stream];
        auto uuid = SphericalUuidBoxFor(plan.sphere, picture.width, picture.height);
        if (!uuid) {
            return std::string(
                "its spherical video metadata (V2) crops the sphere in a way its V1 box "
                "cannot say in whole pixels of the picture");
        }
        plan.uuidBox = std::move(*uuid);
    } else if (choice.projection == ProjectionChoice::Equirectangular) {
        plan.uuidBox = SphericalUuidBox(0);
    } else {
        return std::string(
            "its video has no spherical metadata: if it is an equirectangular 360 video, say so "
            "with --projection equirectangular");
    }

    std::ifstream file(report.path, std::ios::binary | std::ios::ate);
    const auto length = file.tellg();
    if (!file || length <= 0) return std::string("the file cannot be read");
    // The 360 video's own times, matrix and names, not a thumbnail's in
    // front of it.
    std::size_t videoTrak = 0;
    while (videoTrak < report.metadata->tracks.size() &&
           &report.metadata->tracks[videoTrak] != video) {
        ++videoTrak;
    }
    plan.recording = ReadRecordingMetadata(file, static_cast<uint64_t>(length), 0, videoTrak);
    return plan;
}

std::optional<std::string> RefusedWhateverTheAnswers(const CheckReport& report) {
    if (report.kind == CheckReport::Kind::CameraMovie) {
        if (report.convertible) return std::nullopt;
        return report.notConvertible;
    }
    if (const std::string damage = DamageWords(report); !damage.empty()) return damage;
    // A camera movie damaged before the walk reached the camera's boxes: a
    // conversion takes it as the camera's, and refuses it.
    if (report.spatial == kSpatialCamera) {
        return report.notCamera.empty() ? std::string("the camera's boxes cannot be read")
                                        : report.notCamera;
    }
    // The answers that let the most through: any reading of undeclared
    // channels, and an equirectangular 360 video where the video says none.
    SpatialChoice answers;
    if (report.spatial == kSpatialUndeclared) answers.ambisonics = AmbisonicsChoice::AmbiX;
    answers.projection = ProjectionChoice::Equirectangular;
    const auto plan = PlanFoaConversion(report, answers);
    if (const auto* refusal = std::get_if<std::string>(&plan)) return *refusal;
    return std::nullopt;
}

}  // namespace spatialmux
