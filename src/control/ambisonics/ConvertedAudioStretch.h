#pragma once
// A short stretch of a camera movie's audio as a conversion will write it:
// the camera's channels 1, 3, 4, 2 (W, Y, Z, X in ACN order) with the
// model's gain on channel 1, through the same single-precision chain and
// the same 16-bit rounding as the output's samples, so that a sound map of
// the camera movie and one of its converted output agree.

#include <array>
#include <cstdint>
#include <string>

#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "movie/ffmpeg/AmbisonicAudio.h"

namespace spatialmux {

// The four ACN planes of one frame.
using AcnFrame = std::array<std::array<float, kFrameSize>, 4>;

// The next frame of an opened reader's audio through the conversion's chain,
// in ACN order and scaled like a decoded 16-bit output: the instants it
// holds (kFrameSize, the rest for the last frame, 0 when nothing was left),
// with `ended` set when the audio has ended.
int32_t ReadConvertedFrame(MovieReader& reader, float gain, AcnFrame* acn, bool* ended);

// `count` instants from instant `first` of an opened reader's audio, in ACN
// order and scaled like a decoded 16-bit output (sample / 32767). False
// with `problem` set when the movie cannot be read there (cut short).
bool ReadConvertedStretch(MovieReader& reader, float gain, int64_t first, int64_t count,
                          AcnAudio* audio, std::string* problem);

}  // namespace spatialmux
