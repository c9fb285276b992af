#pragma once
// The new moov of a movie edited from a copy of its input whose audio needs
// no change (first-order ambisonics already in ACN/SN3D order, in a codec
// the output holds): the input's movie header, its first video track and
// its first audio track with their sample tables as they are, so every
// sample stays where the copy keeps it. The video track gets the video
// sample entry and the V1 box of the conversion, the audio sample entry an
// ambisonic chan box and an SA3D box with the identity map, and the moov
// the input's recording metadata and Spherical Video V2, as the metadata
// transplant gives the remux's output. Pure functions on bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/RecordingMetadata.h"
#include "output/SphericalVideoBoxes.h"

namespace spatialmux::output {

struct CopiedAudioBoxes {
    std::vector<uint8_t> videoSampleEntry;  // replaces the video track's first one
    std::vector<uint8_t> uuidBox;           // the V1 box; replaces the track's own
    std::vector<uint8_t> sa3dBox;           // 36 bytes; its map is set to 0, 1, 2, 3
    SphericalVideo sphere;                  // V2, unless the video sample entry has sv3d
};

// The offsets in `moov` (a whole moov with a 32-bit size) of its first trak
// whose handler is `vide` and of its first whose handler is `soun`; nothing
// when moov's children do not fill it exactly or either is missing.
struct VideoAndAudioTraks {
    uint64_t video = 0;
    uint64_t audio = 0;
};
std::optional<VideoAndAudioTraks> FindVideoAndAudioTraks(const std::vector<uint8_t>& moov);

// Builds the new moov from the input's `oldMoov`: its mvhd, its video trak
// (a V1 uuid box among its children left out for `boxes.uuidBox`), its
// audio trak (chan and SA3D among the first sample entry's children left
// out for the new ones), in that order, and a udta holding `writerName` as
// its ©swr tag; other tracks and the moov's own udta and meta stay behind
// (the recording metadata's carry brings the input's tags and meta back).
// Every box on the way must have a plain 32-bit size. Nothing, with the
// cause in `error`, when a piece is missing or malformed.
std::optional<std::vector<uint8_t>> BuildCopiedAudioMoov(const std::vector<uint8_t>& oldMoov,
                                                         const CopiedAudioBoxes& boxes,
                                                         const RecordingMetadata& recording,
                                                         const std::string& writerName,
                                                         std::string* error);

}  // namespace spatialmux::output
