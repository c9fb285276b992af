#pragma once
// The description of a movie converted by editing a copy of the input in
// place: the input's movie header and video track as they are (the video
// samples do not move, so nothing in them changes), one audio track made
// from the camera's private audio tables, and the recording metadata that
// the remux's output carries. Pure functions on bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/RecordingMetadata.h"

namespace spatialmux::output {

// The converted audio as the private tables describe it: 16-bit PCM, four
// channels (little-endian, 'sowt') at `sampleRate`, each chunk holding the
// instants given for it (the last one cut to the audio's length).
struct EditedAudioTrack {
    uint32_t sampleRate = 48000;
    std::vector<uint64_t> chunkOffsets;
    std::vector<uint32_t> chunkInstants;  // parallel to chunkOffsets, none 0
    std::vector<uint8_t> sa3dBox;         // the input's SA3D, 36 bytes
};

// The bytes that replace an `ftyp` of `size` bytes so that it names
// QuickTime as the remux's output does ('qt  ', minor version 0x200, one
// compatible brand 'qt  '), followed by a `free` box for the rest, or by
// further 'qt  ' brands when the rest is too small for a box. Nothing when
// `size` cannot be filled that way (below 20 bytes, or 1 to 7 bytes over in
// a count not divisible by 4).
std::optional<std::vector<uint8_t>> QuickTimeFtyp(uint64_t size);

// Builds the new moov from the input's `oldMoov` (whole, 32-bit size): its
// mvhd (with next_track_ID past the audio's), its first trak (which must be
// video) unchanged, the audio trak described by `audio` (track ID one above
// the video's, SA3D mapped 0, 1, 2, 3), a udta holding only `writerName` as
// its ©swr tag; then the input's recording metadata is carried in as the
// remux's output receives it (CarryRecordingMetadata): the audio track's
// times from the private mdhd, languages, user-data tags and meta. Nothing,
// with the cause in `error`, when a piece is missing or malformed.
std::optional<std::vector<uint8_t>> BuildEditedMoov(const std::vector<uint8_t>& oldMoov,
                                                    const EditedAudioTrack& audio,
                                                    const RecordingMetadata& metadata,
                                                    const std::string& writerName,
                                                    std::string* error);

}  // namespace spatialmux::output
