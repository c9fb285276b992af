#pragma once
// A short stretch of a camera movie's audio as a conversion will write it:
// the camera's channels 1, 3, 4, 2 (W, Y, Z, X in ACN order) with the
// model's gain on channel 1, through the same single-precision chain and
// the same 16-bit rounding as the output's samples, so that a sound map of
// the camera movie and one of its converted output agree.

#include <cstdint>
#include <string>

#include "movie/MovieReader.h"
#include "movie/ffmpeg/AmbisonicAudio.h"

namespace spatialmux {

// `count` instants from instant `first` of an opened reader's audio, in ACN
// order and scaled like a decoded 16-bit output (sample / 32767). False
// with `problem` set when the movie cannot be read there (cut short).
bool ReadConvertedStretch(MovieReader& reader, float gain, int64_t first, int64_t count,
                          AcnAudio* audio, std::string* problem);

}  // namespace spatialmux
