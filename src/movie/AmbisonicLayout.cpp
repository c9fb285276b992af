#include "movie/AmbisonicLayout.h"

namespace spatialmux {

std::optional<AcnChannels> FirstOrderAcnChannels(const Sa3dFacts& sa3d, std::string* problem) {
    auto refuse = [problem](const std::string& why) {
        *problem = why;
        return std::nullopt;
    };
    if (sa3d.headLockedStereo) return refuse(kHeadLockedStereoUnsupported);
    if (sa3d.ambisonicType != 0) return refuse("its SA3D box's ambisonic type is not periphonic");
    if (sa3d.order != 1) {
        return refuse("its SA3D box says ambisonic order " + std::to_string(sa3d.order) +
                      ", not first order");
    }
    if (sa3d.channelOrdering != 0) return refuse("its SA3D box's channel ordering is not ACN");
    if (sa3d.normalization != 0) return refuse("its SA3D box's normalization is not SN3D");
    if (sa3d.channelCount != 4 || sa3d.channelMap.size() != 4) {
        const std::size_t mapped =
            sa3d.channelCount != 4 ? sa3d.channelCount : sa3d.channelMap.size();
        return refuse("its SA3D box maps " + std::to_string(mapped) + " channels, not 4");
    }
    AcnChannels channels = {-1, -1, -1, -1};
    for (int channel = 0; channel < 4; ++channel) {
        const uint32_t component = sa3d.channelMap[static_cast<std::size_t>(channel)];
        if (component > 3 || channels[component] >= 0) {
            return refuse("its SA3D channel map does not name each of the four components once");
        }
        channels[component] = channel;
    }
    return channels;
}

}  // namespace spatialmux
