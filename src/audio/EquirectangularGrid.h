#pragma once
// Where a direction lies in an equirectangular 360 picture, as the spherical
// video metadata defines it and 360 players show it:
//
//   - yaw (azimuth) 0 is the centre of the picture; azimuth grows towards the
//     viewer's LEFT, so azimuth +90 degrees lies at x = width / 4, -90 degrees
//     at x = 3 * width / 4, and +-180 degrees at both side edges;
//   - elevation grows upwards: the top row is +90 degrees, the bottom row -90.
//
// Ambisonics measure azimuth the same way (counter-clockwise seen from above,
// +90 = left), so a sound from azimuth a and elevation e sits at the pixel
// where the picture shows the same direction. Pixel coordinates are
// continuous: pixel (i, j) covers [i, i + 1) x [j, j + 1), its centre is
// (i + 0.5, j + 0.5).

#include <numbers>

namespace spatialmux {

inline constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

struct Direction {
    double azimuthDegrees = 0.0;    // (-180, 180], +90 = left
    double elevationDegrees = 0.0;  // [-90, 90], +90 = up
};

struct PicturePoint {
    double x = 0.0;
    double y = 0.0;
};

// Wraps any azimuth into (-180, 180].
double WrapAzimuth(double degrees);

PicturePoint DirectionToPicture(const Direction& direction, double width, double height);
Direction PictureToDirection(const PicturePoint& point, double width, double height);

// The angle between two directions, in degrees (0 to 180).
double AngleBetween(const Direction& a, const Direction& b);

}  // namespace spatialmux
