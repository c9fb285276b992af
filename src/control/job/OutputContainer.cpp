#include "control/job/OutputContainer.h"

#include "platform/PathParts.h"

namespace spatialmux {

OutputContainer ContainerFor(const std::string& outputPath) {
    const std::string extension = platform::LowerExtension(outputPath);
    if (extension == ".mov") return OutputContainer::Mov;
    if (extension == ".mp4" || extension == ".m4v") return OutputContainer::Mp4;
    return OutputContainer::Unsupported;
}

bool ContainerCarriesConversion(OutputContainer container) {
    // QuickTime carries the PCM (and AAC); MP4 carries AAC or Opus, which
    // the output format's choice of codec settles.
    return container == OutputContainer::Mov || container == OutputContainer::Mp4;
}

}  // namespace spatialmux
