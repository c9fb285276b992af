#pragma once
// The free space a conversion needs in the output's folder, for the engine
// that will do it: the remux writes the output while its temporary WAV is
// still beside it; the edit writes one copy of the input and a new moov, or,
// on a volume where the copy shares the input's blocks, only the rewritten
// audio and the new moov.

#include <cstdint>
#include <optional>
#include <string>

namespace spatialmux {

class MovieReader;

// `reader` holds the input, opened. `edit` is true for the edit engine.
uint64_t SpaceNeeded(const std::string& input, const std::string& outputFolder,
                     const MovieReader& reader, bool edit);

// The same for a conversion that has not started: opens `input` with a
// reader of its own. Nothing when the reader refuses the input (the
// conversion will then say why).
std::optional<uint64_t> SpaceNeededFor(const std::string& input, const std::string& outputFolder,
                                       bool edit);

}  // namespace spatialmux
