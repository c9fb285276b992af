#pragma once
// The Spherical Video V2 boxes that say what a movie's V1 uuid box says, so
// that an output carries both versions and players that read either see the
// same sphere.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/SphericalVideoBoxes.h"

namespace spatialmux {

// From the GSpherical:* elements of a V1 document (as ParseSphericalXml
// gives them): nothing unless it says Spherical true and an equirectangular
// projection. The stereo mode and the cropped area (as equi bounds, when all
// six of its numbers are there and fit inside the full panorama) carry over;
// the initial view is a player's starting direction, not a pose of the
// projection, and is not written into prhd.
std::optional<output::SphericalVideo> SphericalVideoFromV1(
    const std::vector<std::pair<std::string, std::string>>& fields);

// The same from a whole V1 uuid box (header, user type, XML); nothing when it
// is not one.
std::optional<output::SphericalVideo> SphericalVideoFromUuidBox(const std::vector<uint8_t>& box);

}  // namespace spatialmux
