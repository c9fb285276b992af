// libFuzzer target: a whole input movie through what the edit engine works
// out before it writes: the frame reading's audio spans, the plan of the
// top-level boxes, the video track read whole, the proof and the new moov.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = spatialmux::fuzzing::ScratchPath("edit.mp4");
    if (!spatialmux::fuzzing::WriteWholeFile(path, data, size)) {
        return 0;
    }
    spatialmux::fuzzing::PrepareEditOf(path, size);
    return 0;
}
