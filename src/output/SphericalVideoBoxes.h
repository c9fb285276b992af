#pragma once
// Spherical Video V2 in the video sample entry: st3d (the stereo mode) and
// sv3d (svhd, then proj with prhd and equi). Players that read V2 take it
// over the V1 uuid box, and some read V2 only, so every output carries both,
// saying the same.

#include <cstdint>
#include <vector>

namespace spatialmux::output {

// What the two boxes say of an equirectangular video.
struct SphericalVideo {
    uint8_t stereoMode = 0;  // 0 mono, 1 top-bottom, 2 left-right
    // The projection's pose: degrees as 16.16 fixed point.
    int32_t yaw = 0;
    int32_t pitch = 0;
    int32_t roll = 0;
    // The part of the sphere the picture leaves out at each edge, as 0.32
    // fixed-point fractions of the whole (all 0: the full sphere).
    uint32_t boundsTop = 0;
    uint32_t boundsBottom = 0;
    uint32_t boundsLeft = 0;
    uint32_t boundsRight = 0;

    bool operator==(const SphericalVideo&) const = default;
};

std::vector<uint8_t> St3dBox(uint8_t stereoMode);
std::vector<uint8_t> Sv3dBox(const SphericalVideo& video);

enum class SphericalV2Result {
    Added,  // st3d and sv3d appended to the video sample entry
    Kept,   // the entry had sv3d already: it is kept, its svhd naming spatialmux
    Refused,
};

// Appends st3d and sv3d saying `video` to the sample entry of the first trak
// of `moov` (a whole moov with a 32-bit size, as FindMoovLayout walks it) and
// grows every enclosing size field. An entry that has sv3d keeps its own
// (and gains no st3d); its svhd then names spatialmux as the source, the
// mark every output of ours carries (WrittenBySpatialmux). Refused, with `moov` unchanged, when the
// boxes cannot be found or a size would pass 32 bits.
SphericalV2Result AddSphericalV2(std::vector<uint8_t>& moov, const SphericalVideo& video);

// For an output whose V2 is not written anew: the first trak's sv3d, if it
// has one, names spatialmux as its source, as AddSphericalV2 marks a kept
// one. False, `moov` unchanged, when there is none or it cannot be
// rewritten.
bool MarkSphericalSource(std::vector<uint8_t>& moov);

}  // namespace spatialmux::output
