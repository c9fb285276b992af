#pragma once
// The pipeline's last step: the finished output is verified against the
// input before the conversion may report success.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/EditPlan.h"
#include "output/Remux.h"

namespace spatialmux {

// Nothing when the output holds what the input promised; otherwise the
// reason it does not.
// `codec`: how the audio was written, which decides what its decoder must
// report. `editWrites`: for an output edited from a copy of the input, every
// byte the edit wrote over the copy (as output::CoveredBytes gives them).
// `audioCopied`: the input's audio went out as it is, in `codec`. `tracks`:
// the input's 360 video and the tracks kept behind the audio.
std::optional<std::string> CheckFinishedOutput(
    const std::string& input, const std::string& output, int64_t audioInstants, bool sphericalUuid,
    output::AudioCodec codec = output::AudioCodec::Pcm,
    std::optional<std::vector<output::ByteRange>> editWrites = std::nullopt,
    bool audioCopied = false, const output::TrackChoice& tracks = {});

// TEST HOOK, for tests only: called with the output's path right before the
// verification, so that a test can break a finished output on purpose and
// see the conversion fail. Empty (no hook) in the program.
using OutputTamper = std::function<void(const std::string& outputPath)>;
void SetOutputTamperForTesting(OutputTamper tamper);

}  // namespace spatialmux
