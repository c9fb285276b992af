#include "control/convert/OutputContainer.h"

#include <algorithm>
#include <cctype>

namespace spatialmux {

OutputContainer ContainerFor(const std::string& outputPath) {
    const std::size_t slash = outputPath.rfind('/');
    const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return OutputContainer::Unsupported;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "mov") return OutputContainer::Mov;
    if (extension == "mp4" || extension == "m4v") return OutputContainer::Mp4;
    return OutputContainer::Unsupported;
}

bool ContainerCarriesConversion(OutputContainer container) {
    // QuickTime carries the PCM (and AAC); MP4 carries AAC or Opus, which
    // the output format's choice of codec settles.
    return container == OutputContainer::Mov || container == OutputContainer::Mp4;
}

}  // namespace spatialmux
