#pragma once
// What a video track's two spherical descriptions say, and where they
// disagree: Spherical Video V1 (the uuid box's XML) and V2 (st3d and sv3d
// in the sample entry). Players differ in the one they read (most take V2
// first), so a movie whose two say different things looks different from
// player to player; it is refused, never converted, and --check calls it
// not ready.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "movie/SpatialMetadata.h"

namespace spatialmux {

// What one version says of the sphere.
struct SphereSaid {
    std::string projection;  // "equirectangular", "cubemap", "mesh" or another word
    uint8_t stereoMode = 0;  // 0 mono, 1 top-bottom, 2 left-right
    // The part of the sphere left out at each edge, as 0.32 fixed-point
    // fractions: top, bottom, left, right (all 0: the full sphere).
    std::array<uint32_t, 4> bounds{};
};

// The cropped area of V1's GSpherical:* elements as equi bounds: nothing
// unless all six of its numbers are there and fit inside the full panorama.
std::optional<std::array<uint32_t, 4>> CroppedAreaBounds(
    const std::vector<std::pair<std::string, std::string>>& fields);

// Whether two sets of bounds say the same crop: V1 counts whole pixels, V2
// fractions, so they may differ by a pixel's rounding (up to about a
// five-hundredth of the sphere).
bool SameBounds(const std::array<uint32_t, 4>& a, const std::array<uint32_t, 4>& b);

// What V1 says (nothing without V1's Spherical true), and what V2 says
// (nothing without sv3d).
std::optional<SphereSaid> SaidByV1(const TrackMetadata& track);
std::optional<SphereSaid> SaidByV2(const TrackMetadata& track);

// Each thing V1 and V2 say differently, in words naming both ("V1 says the
// projection equirectangular, V2 (sv3d) says cubemap"); empty when they
// agree or only one is there.
std::vector<std::string> SphericalDisagreements(const TrackMetadata& track);

}  // namespace spatialmux
