#pragma once
// What libavformat's mov demuxer makes of a QuickTime or MP4 movie, read from
// its boxes without FFmpeg: the report's probe where no codec library is
// linked (the browser's core). For the movies that build needs (the camera's,
// first-order ambisonics in PCM or declared otherwise, and damaged ones) it
// gives what ProbeMedia gives; a test holds the two together over the
// fixture builder's movies.

#include <optional>
#include <string>

#include "movie/MediaProbe.h"

namespace spatialmux {

// Nothing, with `problem` in libavformat's words, when the file has no movie
// box to read (not a movie, or one cut off before its index was written).
std::optional<MediaProbe> ProbeMediaFromBoxes(const std::string& path, std::string* problem);

}  // namespace spatialmux
