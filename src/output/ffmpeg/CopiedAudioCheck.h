#pragma once
// The verification of an output whose audio was copied from its input as it
// is (no decoding, no encoding): the output's audio stream against the
// input's, from their indexes.

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "output/OutputVerification.h"

namespace spatialmux::output {

// Empty when the output's audio stream `out` is the input's `in` copied:
// the same codec and sample rate, four channels that PCM and Opus say are
// ambisonic, the same sampling instants (PCM) or packets (each of the same
// size, decoded at the same time, holding the same bytes) and length. For
// an edited output every audio packet also lies where the input has it,
// outside every byte the edit wrote (the copy keeps the rest of the input's
// bytes as they are). Otherwise what differs.
std::string CheckCopiedAudio(const AVStream* in, const AVStream* out, const std::string& outputPath,
                             const OutputExpectations& expected);

}  // namespace spatialmux::output
