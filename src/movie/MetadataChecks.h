#pragma once
// Checks of the metadata boxes that the reader copies from the input into the
// output. A damaged box must not reach the output, where players would then
// misread the movie (ambisonics not recognised, a video entry whose children
// run into the next box): the movie is refused instead, with the cause.
//
// Each check returns nothing when the box is sound, otherwise a short English
// text naming the cause, for the diagnostic line on standard output.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux {

// The SA3D box of the audio sample entry: 36 bytes (header, version 0,
// ambisonic type 0, order 1, channel ordering 0 (ACN), normalization 0
// (SN3D), 4 channels, a channel map holding each of 0, 1, 2 and 3 once).
inline constexpr std::size_t kSa3dBoxBytes = 36;
std::optional<std::string> Sa3dProblem(const uint8_t* box, std::size_t size);

// An avc1/hvc1 video sample entry: the 86 bytes of a visual sample entry
// (8-byte header, then 78 bytes of fields: reserved and data reference
// index, 16 bytes of pre-defined and reserved, width, height, resolutions,
// reserved, frame count, 32-byte compressor name, depth, pre-defined)
// followed by child boxes whose sizes tile the rest of the entry exactly.
inline constexpr std::size_t kVisualSampleEntryBytes = 86;
std::optional<std::string> VideoSampleEntryProblem(const uint8_t* entry, std::size_t size);

}  // namespace spatialmux
