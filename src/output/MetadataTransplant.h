#pragma once
// The file step of the metadata transplant: the input's video sample entry,
// uuid box and SA3D box go into the output's moov, which the remux left as
// the last top-level box of the file behind mdat.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/RecordingMetadata.h"
#include "output/SphericalVideoBoxes.h"

namespace spatialmux::output {

enum class TransplantResult {
    Written,     // the new moov is in the file
    CannotOpen,  // the file could not be opened for reading and writing
    Refused,     // the file or a piece is not as expected (file unchanged), or the rewrite failed
};

// Rewrites the moov of the movie at `path` with the three pieces (the SA3D
// box as the camera wrote it; its channel map is set to 0, 1, 2, 3 here),
// describes the audio's channels in its chan box, if it has one, as
// ambisonics (only when an SA3D box is carried), and carries the input's
// recording metadata into it. `uuidBox` and `sa3dBox` may be empty (an
// output whose audio is no ambisonics). With `sphericalV2`, the video sample
// entry gains st3d and sv3d saying it, unless it carries sv3d already; a
// sv3d it carries names spatialmux as its source either way (the mark of
// our outputs). Only moov is read and rewritten.
TransplantResult TransplantIntoFile(const std::string& path,
                                    const std::vector<uint8_t>& videoSampleEntry,
                                    const std::vector<uint8_t>& uuidBox,
                                    const std::vector<uint8_t>& sa3dBox,
                                    const RecordingMetadata& recording,
                                    const std::optional<SphericalVideo>& sphericalV2);

}  // namespace spatialmux::output
