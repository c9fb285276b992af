// V1's spherical description as V2 boxes.
#include "control/job/SphericalVideoFromV1.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "iso/BoxHeader.h"
#include "movie/SpatialMetadata.h"

namespace spatialmux {

namespace {

constexpr std::size_t kUuidHeaderSize = 8 + 16;  // box header, user type

std::optional<uint64_t> Pixels(const std::map<std::string, std::string>& fields, const char* name) {
    const auto found = fields.find(name);
    if (found == fields.end() || found->second.empty() || found->second.size() > 9 ||
        found->second.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(found->second);
}

// `part` of `whole` as a 0.32 fixed-point fraction.
uint32_t Fraction(uint64_t part, uint64_t whole) {
    return static_cast<uint32_t>(std::min<uint64_t>((part << 32) / whole, UINT32_MAX));
}

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
    const auto width = Pixels(fields, "CroppedAreaImageWidthPixels");
    const auto height = Pixels(fields, "CroppedAreaImageHeightPixels");
    const auto fullWidth = Pixels(fields, "FullPanoWidthPixels");
    const auto fullHeight = Pixels(fields, "FullPanoHeightPixels");
    const auto left = Pixels(fields, "CroppedAreaLeftPixels");
    const auto top = Pixels(fields, "CroppedAreaTopPixels");
    if (width && height && fullWidth && fullHeight && left && top && *width > 0 && *height > 0 &&
        *left + *width <= *fullWidth && *top + *height <= *fullHeight) {
        video.boundsTop = Fraction(*top, *fullHeight);
        video.boundsBottom = Fraction(*fullHeight - *top - *height, *fullHeight);
        video.boundsLeft = Fraction(*left, *fullWidth);
        video.boundsRight = Fraction(*fullWidth - *left - *width, *fullWidth);
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
