// libFuzzer target: the spherical and spatial-audio metadata walk of any
// movie's moov.
#include <cstddef>
#include <cstdint>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    spatialmux::fuzzing::ParseSpatialMetadata(data, size);
    return 0;
}
