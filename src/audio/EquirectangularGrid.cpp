#include "audio/EquirectangularGrid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace spatialmux {

double WrapAzimuth(double degrees) {
    double wrapped = std::fmod(degrees, 360.0);
    if (wrapped > 180.0) wrapped -= 360.0;
    if (wrapped <= -180.0) wrapped += 360.0;
    return wrapped;
}

PicturePoint DirectionToPicture(const Direction& direction, double width, double height) {
    const double azimuth = WrapAzimuth(direction.azimuthDegrees);
    const double elevation = std::clamp(direction.elevationDegrees, -90.0, 90.0);
    // Left of the centre is positive azimuth: x falls as azimuth rises.
    return {(0.5 - azimuth / 360.0) * width, (0.5 - elevation / 180.0) * height};
}

Direction PictureToDirection(const PicturePoint& point, double width, double height) {
    Direction direction;
    direction.azimuthDegrees = WrapAzimuth((0.5 - point.x / width) * 360.0);
    direction.elevationDegrees = std::clamp((0.5 - point.y / height) * 180.0, -90.0, 90.0);
    return direction;
}

double AngleBetween(const Direction& a, const Direction& b) {
    const double ea = a.elevationDegrees * kRadiansPerDegree;
    const double eb = b.elevationDegrees * kRadiansPerDegree;
    const double da = (a.azimuthDegrees - b.azimuthDegrees) * kRadiansPerDegree;
    const double cosine = std::sin(ea) * std::sin(eb) + std::cos(ea) * std::cos(eb) * std::cos(da);
    return std::acos(std::clamp(cosine, -1.0, 1.0)) / kRadiansPerDegree;
}

}  // namespace spatialmux
