#pragma once
// Which channel of a movie's audio carries which first-order ambisonic
// component, from the movie's SA3D box. The box's channel map gives, for
// each channel of the track in order, its ambisonic component in ACN order
// (0 W, 1 Y, 2 Z, 3 X): a track in FuMa order W, X, Y, Z says 0, 3, 1, 2, and
// a track already in ACN order says 0, 1, 2, 3.

#include <array>
#include <optional>
#include <string>

#include "movie/SpatialMetadata.h"

namespace spatialmux {

// For each ACN component (W, Y, Z, X), the track channel that carries it.
using AcnChannels = std::array<int, 4>;

// Ambisonics followed by two channels of head-locked stereo (the SA3D
// box's head-locked bit) is refused with this, never taken apart.
inline constexpr const char* kHeadLockedStereoUnsupported =
    "first-order ambisonics with head-locked stereo is not supported yet";

// The channels of a periphonic first-order ACN/SN3D box with four channels
// and a map that names every component once. Nothing otherwise, with
// `problem` saying what the box says instead.
std::optional<AcnChannels> FirstOrderAcnChannels(const Sa3dFacts& sa3d, std::string* problem);

}  // namespace spatialmux
