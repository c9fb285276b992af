#include "movie/GainChoice.h"

#include <cstdint>
#include <cstring>

namespace spatialmux {

namespace {
// The float of these bits (std::bit_cast, which the browser build's
// standard library lacks).
float FloatOfBits(uint32_t bits) {
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
// Exact single-precision values of 10^(3/20) and 10^(-3/20).
const float kGainTable[2] = {FloatOfBits(0x3FB4CE08), FloatOfBits(0x3F353BEF)};
const float kDefaultGain = FloatOfBits(0x3FB4CE08);
}  // namespace

float ChooseGain(const std::string& softwareText, bool makerNoteFlag) {
    const std::size_t length = std::strlen(kCameraModelLiteral);
    const bool recognised =
        softwareText.size() >= length && softwareText.compare(0, length, kCameraModelLiteral) == 0;
    return recognised ? kGainTable[makerNoteFlag ? 1 : 0] : kDefaultGain;
}

}  // namespace spatialmux
