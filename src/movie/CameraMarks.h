#pragma once
// Whether a file carries the camera's marks: its maker note or its private
// audio boxes.

#include <string>

namespace spatialmux {

// True when one of the camera's own boxes stands at the top level of the
// file at `path` or anywhere in its moov, even where the camera's walk does
// not reach it (a damaged box on the way): such a file is the camera's.
bool CarriesCameraMarks(const std::string& path);

}  // namespace spatialmux
