// MovieReader::TransplantMetadata, the reader's side of the transplant: it
// hands the pieces it saved to the output's file step. Its definition lives
// here, in the layer that may use both the reader and the output, because the
// reader itself never calls into src/output.
#include <cstdio>

#include "control/job/SphericalVideoFromV1.h"
#include "movie/MovieReader.h"
#include "output/MetadataTransplant.h"
#include "output/MoovTransplant.h"

namespace spatialmux {

int32_t MovieReader::TransplantMetadata(const std::string& path) {
    outputPath = path;
    const output::TransplantResult result =
        output::TransplantIntoFile(outputPath, videoSampleEntry, uuidBox, sa3dBox, recording,
                                   SphericalVideoFromUuidBox(uuidBox));
    if (result == output::TransplantResult::CannotOpen) {
        std::printf("%s:file open error\n", outputPath.c_str());
        return 1;
    }
    if (result != output::TransplantResult::Written) return 1;
    // The reader keeps the channel map the output now carries.
    output::RemapSa3dChannels(sa3dBox);
    return 0;
}

}  // namespace spatialmux
