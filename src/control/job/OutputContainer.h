#pragma once
// The container an output gets, decided once from the output's name: the
// remux picks FFmpeg's muxer by the same extension, and the job refuses a
// name whose container cannot carry what the conversion writes before any
// work starts.

#include <string>

namespace spatialmux {

enum class OutputContainer {
    Mov,          // .mov (QuickTime): carries the 16-bit PCM of a conversion
    Mp4,          // .mp4, .m4v (ISO base media): no PCM audio
    Unsupported,  // anything else
};

// By the extension of the name's last component, letter case ignored.
OutputContainer ContainerFor(const std::string& outputPath);

// Whether a conversion can write into `container` today.
bool ContainerCarriesConversion(OutputContainer container);

}  // namespace spatialmux
