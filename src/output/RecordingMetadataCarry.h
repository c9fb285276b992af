#pragma once
// Carrying the input's recording metadata into the output's moov: the
// creation and modification times of mvhd and of both tracks' tkhd and mdhd,
// the display matrices, the track languages, the video handler name, the
// user-data tags and the QuickTime metadata box. A pure function on the moov
// bytes, applied after the transplant has built the new moov.

#include <cstdint>
#include <vector>

#include "audio/RecordingMetadata.h"

namespace spatialmux::output {

// Returns in `result` the `moov` (whole, first trak video, second trak
// audio) with:
// - the times of mvhd, of the video tkhd/mdhd (from the input's video track)
//   and of the audio tkhd/mdhd (both from the input's audio mdhd); a header
//   of version 0 becomes version 1 when a time does not fit 32 bits, and a
//   version 1 header takes 32-bit times widened;
// - the mvhd and video tkhd matrices, the video and audio mdhd languages
//   and the name of the video mdia/hdlr (in the form the output's name has);
// - the input's tags in moov/udta: the output's udta children of a type the
//   input carries are dropped, the others (the muxer's own tag) kept, and
//   udta is made when the output has none;
// - the input's meta box in place of the output's moov/meta, or appended.
// Every enclosing size is adjusted. Absent pieces leave the output as it is,
// and so does a header or hdlr box the output lacks (FFmpeg always writes
// them) or a header of a version other than 0 and 1. False, leaving `result` untouched, when the
// moov or a box to change is malformed, a piece of `metadata` is malformed, or a size would pass 32
// bits.
// `result` may point to `moov`.
bool CarryRecordingMetadata(const std::vector<uint8_t>& moov, const RecordingMetadata& metadata,
                            std::vector<uint8_t>* result);

}  // namespace spatialmux::output
