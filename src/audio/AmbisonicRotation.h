#pragma once
// A turn of the whole first-order sound field, for audio whose picture was
// turned (its front set again in a stitching or editing program): the
// components X, Y, Z (ACN order W, Y, Z, X, SN3D) are rotated, W is kept.
//
// Directions are those of AmbiX and of the sound map: azimuth counted
// counter-clockwise seen from above (+90 = left), elevation up, and a plane
// wave from azimuth a, elevation e has X = cos e cos a, Y = cos e sin a,
// Z = sin e. The three angles, in degrees:
//
//   yaw t    turns about the vertical axis; a source at azimuth A moves to
//            A + t (yaw 90: front to left):
//              X' = X cos t - Y sin t,   Y' = X sin t + Y cos t,   Z' = Z
//   pitch p  turns about the left-right axis; a source in front moves up
//            (pitch 90: front to straight up, up to behind):
//              X' = X cos p - Z sin p,   Z' = X sin p + Z cos p,   Y' = Y
//   roll r   turns about the front-back axis; a source on the left moves
//            up (roll 90: left to straight up, up to right):
//              Y' = Y cos r - Z sin r,   Z' = Y sin r + Z cos r,   X' = X
//
// They apply in that order, yaw first, then pitch, then roll, each about
// the listener's fixed axes: the matrix is Roll(r) Pitch(p) Yaw(t). The
// angles are kept within (-180, 180]; multiples of 90 degrees turn exactly
// (their sines and cosines are 0 and +-1, not rounded values).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace spatialmux {

struct AmbisonicRotation {
    double yawDegrees = 0.0;
    double pitchDegrees = 0.0;
    double rollDegrees = 0.0;

    // No turn at all: every angle is 0 (after normalising).
    bool IsIdentity() const;
    bool operator==(const AmbisonicRotation&) const = default;
};

// Any angle within (-180, 180]; NaN and infinities stay as they are.
double NormalizedDegrees(double degrees);

// "YAW[,PITCH[,ROLL]]" in degrees, each a decimal number (a point, never a
// comma, whatever the locale; a leading + allowed), finite; the missing
// angles are 0 and all three are normalised. Nothing, with `problem`
// saying why in English, for anything else.
std::optional<AmbisonicRotation> ParseAmbisonicRotation(std::string_view text,
                                                        std::string* problem);

// The rotation as ParseAmbisonicRotation reads it back exactly ("90",
// "90,-12.5", "0,0,3"): the shortest form, trailing zero angles left out.
std::string AmbisonicRotationText(const AmbisonicRotation& rotation);

// The rotation in words for a person: "yaw 90, pitch 0, roll 0 degrees".
std::string AmbisonicRotationWords(const AmbisonicRotation& rotation);

// Rows and columns in the order X, Y, Z: (X', Y', Z') = M (X, Y, Z).
using Rotation3 = std::array<std::array<double, 3>, 3>;
Rotation3 RotationMatrix(const AmbisonicRotation& rotation);

// Turns `count` instants of the planes Y, Z and X in place (W needs
// nothing). Each turned sample is computed in double precision and held
// within the range of 16-bit samples at full scale 1.0 (-32768 / 32767 to
// 1): a turn keeps a plane wave's components within W, but a component of
// a diffuse field may grow beyond full scale, and every output holds it in
// 16-bit samples (which wrap, not saturate, beyond it). A component the
// turn keeps (Z under a yaw) keeps every sample.
void RotateAmbisonics(const Rotation3& matrix, float* y, float* z, float* x, int64_t count);

}  // namespace spatialmux
