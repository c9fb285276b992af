#pragma once
// The tracks of a camera movie that its conversion does not carry: it
// writes the camera's video and its converted audio, and nothing else, so a
// movie with any other track (a thumbnail, a second video, timecode,
// subtitles) is refused before anything is written instead of losing it.

#include <optional>
#include <string>

#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

// Why a camera movie cannot be converted without dropping a track, in
// English ("its track 3 (video, mjpeg) would be dropped: ..."); nothing
// when it holds only its video and its audio (a cover picture is a tag of
// its metadata, not a track).
std::optional<std::string> CameraTrackLeftOut(const CheckReport& report);

}  // namespace spatialmux
