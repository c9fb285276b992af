// libFuzzer target: the metadata transplant of a valid camera movie into a
// damaged output movie.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = spatialmux::fuzzing::ScratchPath("output.mov");
    if (!spatialmux::fuzzing::WriteWholeFile(path, data, size)) {
        return 0;
    }
    spatialmux::fuzzing::TransplantInto(SPATIALMUX_FUZZ_SOURCE_MOVIE, path);
    return 0;
}
