#pragma once
// Building the output's new moov: the input's video sample entry replaces
// the output's first one, the input's uuid box becomes the video trak's last
// child and the SA3D box the audio sample entry's last child; a chan box in
// the audio sample entry becomes the ambisonic layout that SA3D describes
// (ACN, SN3D, no speakers); the size field of every enclosing box is
// adjusted.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace spatialmux::output {

// The SA3D box is 36 bytes: header, version, ambisonic type, order, channel
// ordering, normalization, channel count, then four 32-bit channel_map
// entries.
inline constexpr std::size_t kSa3dBoxSize = 36;

// Writes the four channel_map entries (bytes 20 to 35) as 0, 1, 2 and 3,
// the order of the converted audio. False, changing nothing, when `sa3d`
// is not a 36-byte SA3D box.
bool RemapSa3dChannels(std::vector<uint8_t>& sa3d);

// True when `box` holds exactly one box: a size field equal to its length
// (at least 8) and, when `type` is given, that type.
bool IsWholeBox(const std::vector<uint8_t>& box, const char* type = nullptr);

// Makes the new moov from the old one and the three pieces. `uuidBox` and
// `sa3dBox` may be empty (nothing is inserted for them: a stereo track has
// no SA3D); the video sample entry must be a whole box.
// False, leaving `newMoov` untouched, when a piece is malformed, the boxes
// of the old moov cannot all be found, or a size would not fit 32 bits.
bool BuildTransplantedMoov(const std::vector<uint8_t>& oldMoov,
                           const std::vector<uint8_t>& videoSampleEntry,
                           const std::vector<uint8_t>& uuidBox, const std::vector<uint8_t>& sa3dBox,
                           std::vector<uint8_t>* newMoov);

}  // namespace spatialmux::output
