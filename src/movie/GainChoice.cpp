#include "movie/GainChoice.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace spatialmux {

namespace {
// Exact single-precision values of 10^(3/20) and 10^(-3/20).
const float kGainTable[2] = {std::bit_cast<float>(uint32_t{0x3FB4CE08}),
                             std::bit_cast<float>(uint32_t{0x3F353BEF})};
const float kDefaultGain = std::bit_cast<float>(uint32_t{0x3FB4CE08});
}  // namespace

float ChooseGain(const std::string& softwareText, bool makerNoteFlag) {
    const std::size_t length = std::strlen(kCameraModelLiteral);
    const bool recognised =
        softwareText.size() >= length && softwareText.compare(0, length, kCameraModelLiteral) == 0;
    return recognised ? kGainTable[makerNoteFlag ? 1 : 0] : kDefaultGain;
}

}  // namespace spatialmux
