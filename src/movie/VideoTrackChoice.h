#pragma once
// Which video track of a movie is its 360 video: the one with spherical
// metadata (V1, V2 or what libavformat reads of it); without any, the
// largest that is not a cover picture. A cover is libavformat's attached
// picture, or a track of one JPEG or PNG picture (a thumbnail in front of
// the real video). Every other track is one the output must keep or the
// conversion must refuse, never drop.

#include <cstddef>
#include <optional>
#include <vector>

#include "movie/MediaProbe.h"
#include "movie/SpatialMetadata.h"

namespace spatialmux {

struct VideoChoice {
    std::size_t stream = 0;                // its index among the probe's streams
    const TrackMetadata* track = nullptr;  // its trak's metadata; nullptr when not read
};

// A cover or thumbnail picture, not a video.
bool IsCoverPicture(const StreamProbe& stream);

// The trak with the track ID `trackId` (0 never matches).
const TrackMetadata* TrackWithId(const std::optional<MovieMetadata>& metadata, int trackId);

// Whether the trak says it is spherical: V1's Spherical true, or sv3d.
bool HasSphericalMetadata(const TrackMetadata& track);

// The 360 video of a movie; nothing when it has no video but covers.
std::optional<VideoChoice> ChooseSphericalVideo(const MediaProbe& probe,
                                                const std::optional<MovieMetadata>& metadata);

}  // namespace spatialmux
