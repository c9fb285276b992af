// Choosing the 360 video among a movie's video tracks.
#include "movie/VideoTrackChoice.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace spatialmux {

bool IsCoverPicture(const StreamProbe& stream) {
    if (stream.attachedPicture) return true;
    return stream.kind == StreamProbe::Kind::Video && stream.indexEntries <= 1 &&
           (stream.codec == "mjpeg" || stream.codec == "png");
}

const TrackMetadata* TrackWithId(const std::optional<MovieMetadata>& metadata, int trackId) {
    if (!metadata || trackId <= 0) return nullptr;
    for (const TrackMetadata& track : metadata->tracks) {
        if (track.trackId == static_cast<uint32_t>(trackId)) return &track;
    }
    return nullptr;
}

namespace {

const TrackMetadata* NthTrack(const std::optional<MovieMetadata>& metadata,
                              std::string_view handler, std::size_t n) {
    if (!metadata) return nullptr;
    for (const TrackMetadata& track : metadata->tracks) {
        if (track.handler != handler) continue;
        if (n == 0) return &track;
        --n;
    }
    return nullptr;
}

}  // namespace

bool HasSphericalMetadata(const TrackMetadata& track) {
    if (track.sv3d) return true;
    for (const auto& [name, value] : track.sphericalV1) {
        if (name == "Spherical" && value == "true") return true;
    }
    return false;
}

std::optional<VideoChoice> ChooseSphericalVideo(const MediaProbe& probe,
                                                const std::optional<MovieMetadata>& metadata) {
    std::optional<VideoChoice> largest;
    uint64_t largestArea = 0;
    std::size_t videoTracks = 0;
    for (std::size_t k = 0; k < probe.streams.size(); ++k) {
        const StreamProbe& stream = probe.streams[k];
        if (stream.kind != StreamProbe::Kind::Video || stream.attachedPicture) continue;
        // A stream without a track ID is taken for the video trak in its place.
        const TrackMetadata* track = stream.trackId > 0 ? TrackWithId(metadata, stream.trackId)
                                                        : NthTrack(metadata, "vide", videoTracks);
        ++videoTracks;
        if (IsCoverPicture(stream)) continue;
        const VideoChoice choice{k, track};
        if (stream.sphericalSideData ||
            (choice.track != nullptr && HasSphericalMetadata(*choice.track))) {
            return choice;
        }
        const uint64_t area = static_cast<uint64_t>(std::max(stream.width, 0)) *
                              static_cast<uint64_t>(std::max(stream.height, 0));
        if (!largest || area > largestArea) {
            largest = choice;
            largestArea = area;
        }
    }
    return largest;
}

}  // namespace spatialmux
