// V1 and V2 of one video track, side by side.
#include "movie/SphericalAgreement.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace spatialmux {

namespace {

constexpr uint32_t kBoundsTolerance = 1u << 23;

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

const char* StereoWords(uint8_t mode) {
    switch (mode) {
        case 0:
            return "mono";
        case 1:
            return "top-bottom";
        case 2:
            return "left-right";
    }
    return "an unknown stereo mode";
}

// The part of the sphere a picture covers, in degrees across and down.
std::string CoverageWords(const std::array<uint32_t, 4>& bounds) {
    const auto degrees = [](uint32_t first, uint32_t second, double whole) {
        const double left =
            1.0 - (static_cast<double>(first) + static_cast<double>(second)) / 4294967296.0;
        return std::to_string(static_cast<long>(std::lround(std::max(0.0, left) * whole)));
    };
    return degrees(bounds[2], bounds[3], 360.0) + " by " + degrees(bounds[0], bounds[1], 180.0) +
           " degrees";
}

std::map<std::string, std::string> FirstOfEach(
    const std::vector<std::pair<std::string, std::string>>& list) {
    // A repeated element counts as it first appears.
    std::map<std::string, std::string> fields;
    for (const auto& [name, text] : list) fields.emplace(name, text);
    return fields;
}

}  // namespace

std::optional<std::array<uint32_t, 4>> CroppedAreaBounds(
    const std::vector<std::pair<std::string, std::string>>& list) {
    const auto fields = FirstOfEach(list);
    const auto width = Pixels(fields, "CroppedAreaImageWidthPixels");
    const auto height = Pixels(fields, "CroppedAreaImageHeightPixels");
    const auto fullWidth = Pixels(fields, "FullPanoWidthPixels");
    const auto fullHeight = Pixels(fields, "FullPanoHeightPixels");
    const auto left = Pixels(fields, "CroppedAreaLeftPixels");
    const auto top = Pixels(fields, "CroppedAreaTopPixels");
    if (!width || !height || !fullWidth || !fullHeight || !left || !top || *width == 0 ||
        *height == 0 || *left + *width > *fullWidth || *top + *height > *fullHeight) {
        return std::nullopt;
    }
    return std::array<uint32_t, 4>{
        Fraction(*top, *fullHeight), Fraction(*fullHeight - *top - *height, *fullHeight),
        Fraction(*left, *fullWidth), Fraction(*fullWidth - *left - *width, *fullWidth)};
}

bool SameBounds(const std::array<uint32_t, 4>& a, const std::array<uint32_t, 4>& b) {
    for (std::size_t k = 0; k < 4; ++k) {
        if ((a[k] > b[k] ? a[k] - b[k] : b[k] - a[k]) > kBoundsTolerance) return false;
    }
    return true;
}

std::optional<SphereSaid> SaidByV1(const TrackMetadata& track) {
    const auto fields = FirstOfEach(track.sphericalV1);
    const auto spherical = fields.find("Spherical");
    if (spherical == fields.end() || spherical->second != "true") return std::nullopt;
    SphereSaid said;
    const auto projection = fields.find("ProjectionType");
    said.projection = projection != fields.end() ? projection->second : "equirectangular";
    if (const auto stereo = fields.find("StereoMode"); stereo != fields.end()) {
        if (stereo->second == "top-bottom") said.stereoMode = 1;
        if (stereo->second == "left-right") said.stereoMode = 2;
    }
    if (const auto bounds = CroppedAreaBounds(track.sphericalV1)) said.bounds = *bounds;
    return said;
}

std::optional<SphereSaid> SaidByV2(const TrackMetadata& track) {
    if (!track.sv3d) return std::nullopt;
    SphereSaid said;
    said.projection = track.projection == "equi"   ? "equirectangular"
                      : track.projection == "cbmp" ? "cubemap"
                      : track.projection == "mshp" ? "mesh"
                      : track.projection.empty()   ? "none"
                                                   : track.projection;
    said.stereoMode = track.stereoMode.value_or(0);
    if (track.equiBounds) said.bounds = *track.equiBounds;
    return said;
}

std::vector<std::string> SphericalDisagreements(const TrackMetadata& track) {
    const auto v1 = SaidByV1(track);
    const auto v2 = SaidByV2(track);
    std::vector<std::string> differences;
    if (!v1) return differences;
    // st3d alone, without sv3d, still says the stereo mode.
    if (v1->stereoMode != track.stereoMode.value_or(0) && (v2 || track.st3d)) {
        differences.push_back(std::string("V1 says the stereo mode ") +
                              StereoWords(v1->stereoMode) + ", V2 (st3d) says " +
                              StereoWords(track.stereoMode.value_or(0)));
    }
    if (!v2) return differences;
    if (v1->projection != v2->projection) {
        differences.push_back("V1 says the projection " + v1->projection + ", V2 (sv3d) says " +
                              v2->projection);
    } else {
        const bool same = SameBounds(v1->bounds, v2->bounds);
        if (!same) {
            differences.push_back("V1 says the picture covers " + CoverageWords(v1->bounds) +
                                  ", V2 (equi) says " + CoverageWords(v2->bounds));
        }
    }
    return differences;
}

}  // namespace spatialmux
