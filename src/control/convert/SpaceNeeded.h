#pragma once
// The free space a conversion needs in the output's folder, for the engine
// that will do it: the remux writes a temporary WAV and the output beside
// it; the edit writes one copy of the input, or, on a volume where the copy
// shares the input's blocks, only the rewritten audio and the new moov.

#include <cstdint>
#include <string>

namespace spatialmux {

class MovieReader;

// `reader` holds the input, opened. `edit` is true for the edit engine.
uint64_t SpaceNeeded(const std::string& input, const std::string& outputFolder,
                     const MovieReader& reader, bool edit);

}  // namespace spatialmux
