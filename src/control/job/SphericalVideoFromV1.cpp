// V1's spherical description as V2 boxes.
#include "control/job/SphericalVideoFromV1.h"

#include <cstring>
#include <map>

#include "iso/BoxHeader.h"
#include "movie/SpatialMetadata.h"
#include "movie/SphericalAgreement.h"

namespace spatialmux {

namespace {

constexpr std::size_t kUuidHeaderSize = 8 + 16;  // box header, user type

}  // namespace

std::optional<output::SphericalVideo> SphericalVideoFromV1(
    const std::vector<std::pair<std::string, std::string>>& list) {
    // A repeated element counts as it first appears.
    std::map<std::string, std::string> fields;
    for (const auto& [name, text] : list) fields.emplace(name, text);
    const auto spherical = fields.find("Spherical");
    const auto projection = fields.find("ProjectionType");
    if (spherical == fields.end() || spherical->second != "true" || projection == fields.end() ||
        projection->second != "equirectangular") {
        return std::nullopt;
    }
    output::SphericalVideo video;
    if (const auto stereo = fields.find("StereoMode"); stereo != fields.end()) {
        if (stereo->second == "top-bottom") {
            video.stereoMode = 1;
        } else if (stereo->second == "left-right") {
            video.stereoMode = 2;
        }
    }
    if (const auto bounds = CroppedAreaBounds(list)) {
        video.boundsTop = (*bounds)[0];
        video.boundsBottom = (*bounds)[1];
        video.boundsLeft = (*bounds)[2];
        video.boundsRight = (*bounds)[3];
    }
    return video;
}

std::optional<output::SphericalVideo> SphericalVideoFromUuidBox(const std::vector<uint8_t>& box) {
    if (box.size() <= kUuidHeaderSize || std::memcmp(box.data() + 4, "uuid", 4) != 0 ||
        std::memcmp(box.data() + 8, kSphericalUuid, 16) != 0) {
        return std::nullopt;
    }
    const std::string xml(box.begin() + kUuidHeaderSize, box.end());
    return SphericalVideoFromV1(ParseSphericalXml(xml));
}

}  // namespace spatialmux
