#include "control/convert/FinishedOutputCheck.h"

#include "output/OutputVerification.h"

namespace spatialmux {

namespace {

OutputTamper& Tamper() {
    static OutputTamper tamper;
    return tamper;
}

}  // namespace

void SetOutputTamperForTesting(OutputTamper tamper) {
    Tamper() = std::move(tamper);
}

std::optional<std::string> CheckFinishedOutput(
    const std::string& input, const std::string& output, int64_t audioInstants, bool sphericalUuid,
    output::AudioCodec codec, std::optional<std::vector<output::ByteRange>> editWrites,
    bool audioCopied, const output::TrackChoice& tracks) {
    if (Tamper()) Tamper()(output);
    const output::OutputVerdict verdict = output::VerifyOutput(
        output,
        {input, audioInstants, sphericalUuid, codec, std::move(editWrites), audioCopied, tracks});
    if (verdict.ok) return std::nullopt;
    return "the finished output does not match the input: " + verdict.reason;
}

}  // namespace spatialmux
