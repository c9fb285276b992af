// libFuzzer target: the TIFF-style directories of a maker-note payload.
#include <cstddef>
#include <cstdint>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    spatialmux::fuzzing::ParseMakerNotePayload(data, size);
    return 0;
}
