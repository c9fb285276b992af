#pragma once
// The video track as players read it, against our reading of its tables:
// libavformat's index of the movie (built from its headers when it is
// opened; no packet is read, nothing is decoded) holds every video packet's
// offset and size. The edit proves its writes safe from our reading, so it
// runs only where the two agree packet for packet.

#include <optional>
#include <string>
#include <vector>

#include "output/EditPlan.h"

namespace spatialmux::output {

// The cause, when libavformat's first stream of the movie at `path` is not
// video or its index does not hold exactly `videoSamples` (offset and size,
// in order); nothing when it does.
std::optional<std::string> DisagreesWithPlayersIndex(const std::string& path,
                                                     const std::vector<ByteRange>& videoSamples);

}  // namespace spatialmux::output
