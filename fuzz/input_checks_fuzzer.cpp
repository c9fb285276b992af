// libFuzzer target: the checks of a damaged input's SA3D box, video sample
// entry and maker-note byte order.
#include <cstddef>
#include <cstdint>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    spatialmux::fuzzing::CheckInputMetadata(data, size);
    return 0;
}
