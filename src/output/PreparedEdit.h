#pragma once
// Everything an in-place edit of a copy of the input needs, worked out and
// proven before any file exists: the plan of the top-level boxes, the ftyp
// and the moov it writes, and where the video samples and the audio writes
// lie. The video samples are read from the video track as the new moov will
// carry it (whole, with no sample table a player might read instead of
// stbl's, or the edit does not run) and the audio writes are the
// chunks the caller gives, which must be the frame reading's own walk. The
// edit may run only when ProveEdit holds for them; anything else is for the
// remux.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "audio/RecordingMetadata.h"
#include "output/CopiedAudioMoov.h"
#include "output/EditPlan.h"
#include "output/EditedMoov.h"

namespace spatialmux::output {

struct PreparedEdit {
    EditPlan plan;
    std::vector<uint8_t> ftyp;  // replaces the input's in place
    std::vector<uint8_t> moov;  // goes behind the copy
    // The bytes the video samples cover, and those the audio writes cover
    // (each as CoveredBytes gives them); the two share none.
    std::vector<ByteRange> video;
    std::vector<ByteRange> audio;
    // Each video sample, in decoding order: what the caller holds against
    // the players' reading of the input (DisagreesWithPlayersIndex) before
    // the edit runs.
    std::vector<ByteRange> videoSamples;
};

// Plans, proves and builds the edit of `input` (`inputSize` bytes) whose
// converted audio goes into the chunks of `audio`. Nothing, with the cause in
// `error`, when the edit cannot be done or proven safe.
std::optional<PreparedEdit> PrepareEdit(std::istream& input, uint64_t inputSize,
                                        const EditedAudioTrack& audio,
                                        const RecordingMetadata& recording,
                                        const std::string& writerName, std::string* error);

// The edit of a movie whose audio goes out as it came in: the copy keeps
// every byte of its media data, and nothing but the ftyp, the blanks and
// the size fields is written over it. `audioPackets`: each audio packet as
// libavformat places it in the input (the new moov keeps the audio track's
// tables, so players place them there in the output too); like the video
// samples, they must lie inside the copy and outside what the edit
// rewrites. The new moov is BuildCopiedAudioMoov's. Nothing, with the cause
// in `error`, when the edit cannot be done or proven safe.
std::optional<PreparedEdit> PrepareCopyEdit(std::istream& input, uint64_t inputSize,
                                            const std::vector<ByteRange>& audioPackets,
                                            const CopiedAudioBoxes& boxes,
                                            const RecordingMetadata& recording,
                                            const std::string& writerName, std::string* error);

}  // namespace spatialmux::output
