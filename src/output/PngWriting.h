#pragma once
// Writes a picture as a PNG file with FFmpeg's PNG encoder (RGB24).
// The file appears whole or not at all: the PNG is written under a hidden
// temporary name beside the destination, flushed to disk and then renamed
// over it; on any failure the temporary file is removed.

#include <cstdint>
#include <string>
#include <vector>

#include "output/RgbImage.h"

namespace spatialmux::output {

// The PNG bytes of `image`; false with `problem` set when the encoder fails.
bool EncodePng(const RgbImage& image, std::vector<uint8_t>* png, std::string* problem);

// False with `problem` set (and nothing left at `path` or beside it).
bool WritePngFile(const RgbImage& image, const std::string& path, std::string* problem);

// The temporary name WritePngFile writes first: ".NAME.PID.partial" in the
// destination's folder.
std::string PartialPngPath(const std::string& path);

}  // namespace spatialmux::output
