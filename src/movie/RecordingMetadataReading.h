#pragma once
// Reading the recording metadata (see audio/RecordingMetadata.h) from the
// input movie's moov and the camera's private audio box.

#include <cstddef>
#include <cstdint>
#include <istream>

#include "audio/RecordingMetadata.h"

namespace spatialmux {

// Reads the recording metadata of the movie in `stream` (`length` bytes):
// the first top-level moov, its mvhd, the video's trak (its trak number
// `videoTrak`, from 0: the first unless a thumbnail comes in front of the
// 360 video), udta and meta, and the mdhd inside the private audio box at
// `audioBoxOffset` (0: none). Boxes that are missing or do not lie inside
// their parent are left out; the stream's position and state are
// undefined afterwards.
RecordingMetadata ReadRecordingMetadata(std::istream& stream, uint64_t length,
                                        uint64_t audioBoxOffset, std::size_t videoTrak = 0);

}  // namespace spatialmux
