// libFuzzer target: a whole input movie through MovieReader::Open, the seeks
// and the frame reading.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = spatialmux::fuzzing::ScratchPath("movie.mp4");
    if (!spatialmux::fuzzing::WriteWholeFile(path, data, size)) {
        return 0;
    }
    spatialmux::fuzzing::ReadMovieAudio(path);
    return 0;
}
