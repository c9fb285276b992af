// libFuzzer target: --check's report on a whole input movie, from its boxes
// (the camera walk, the audio's reach, the movie metadata) and a stand-in
// for libavformat's probe made from the input's first bytes. The probe
// itself is FFmpeg's and is not in the fuzz build.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = spatialmux::fuzzing::ScratchPath("check.mp4");
    if (!spatialmux::fuzzing::WriteWholeFile(path, data, size)) {
        return 0;
    }
    spatialmux::fuzzing::CheckReportOf(path, data, size);
    return 0;
}
