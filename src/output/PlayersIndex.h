#pragma once
// The video track as players read it, against our reading of its tables:
// libavformat's index of the movie (built from its headers when it is
// opened; no packet is read, nothing is decoded) holds every video packet's
// offset and size. The edit proves its writes safe from our reading, so it
// runs only where every packet players read is a sample of ours.

#include <optional>
#include <string>
#include <vector>

#include "output/EditPlan.h"

namespace spatialmux::output {

// The cause, when libavformat's first stream of the movie at `path` is not
// video, its index is empty, or a packet of it is not one of
// `videoSamples` (the same offset and size; an edit list may leave samples
// out of the index, never add one); nothing when every packet is.
std::optional<std::string> DisagreesWithPlayersIndex(const std::string& path,
                                                     const std::vector<ByteRange>& videoSamples);

// Each packet of libavformat's first audio stream of the movie at `path`,
// as its index places it (from the headers; nothing is read). Nothing, with
// the cause in `error`, when the movie cannot be opened, has no audio
// stream, or its index is empty or has a packet without a place.
std::optional<std::vector<ByteRange>> PlayersAudioPackets(const std::string& path,
                                                          std::string* error);

}  // namespace spatialmux::output
