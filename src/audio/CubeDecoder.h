#pragma once
// The decoder of the headphone render: first-order ambisonics (ACN order W,
// Y, Z, X with SN3D normalisation) turned so that the listener faces a
// chosen direction, then decoded to eight virtual loudspeakers at the
// corners of a cube, which the HRTF convolution places around the head.
//
// The speakers, in the order of the decoder's rows (and of the convolution's
// channels 0 to 7): azimuth 45, 315, 135 and 225 degrees (front left, front
// right, back left, back right) at elevation +35.26, then the same four at
// -35.26; 35.26 = atan(1 / sqrt 2) is the elevation of a cube's corner seen
// from its centre. A cube's corners are a spherical 3-design, so a
// first-order decoder on them favours no direction, and none of them sits at
// a pole (the convolution cannot place a speaker straight up).
//
// The decoder is the max-rE sampling decoder for SN3D:
//   g_i = (W + 3 g1 (u_i.x X + u_i.y Y + u_i.z Z)) / 8,   g1 = 1 / sqrt 3,
// with u_i the unit vector of speaker i. Each of a corner's components is
// +-1 / sqrt 3, so every weight is +-1/8:
//   g_i = (W + s_x X + s_y Y + s_z Z) / 8,   s the signs of corner i.
// A plane wave from corner i (W = 1, (X, Y, Z) = u_i) then gives speaker j
// the gain (1 + (s_i . s_j) / sqrt 3) / 8: 0.3415 to itself, 0.1972 to the
// three corners beside it, 0.0528 to the three across a face and -0.0915 to
// the opposite corner; the eight gains of any plane wave add up to W, so its
// pressure is kept. (The plain sampling decoder, g1 = 1, gives 0.5, 0.25, 0
// and -0.25: max-rE keeps more of the energy towards the source and puts
// less of it, in opposite phase, behind the head.)
//
// The rotation for a listener facing azimuth a, elevation e (azimuth counted
// counter-clockwise from the front, +90 = left, as the sound map labels it;
// elevation up) is a turn by -a about the vertical axis, then by -e about the
// new left-right axis, so that the direction faced becomes the front:
//   X' =  cos e cos a X + cos e sin a Y + sin e Z
//   Y' =        -sin a X +       cos a Y
//   Z' = -sin e cos a X - sin e sin a Y + cos e Z,     W' = W.

#include <array>

#include "audio/AmbisonicRotation.h"
#include "audio/EquirectangularGrid.h"

namespace spatialmux {

inline constexpr int kCubeSpeakers = 8;

// Rows: the output's W, Y, Z, X; columns: the input's W, Y, Z, X.
using AcnMatrix = std::array<std::array<double, 4>, 4>;
// Row i: the gains of speaker i on W, Y, Z, X.
using SpeakerFeeds = std::array<std::array<double, 4>, kCubeSpeakers>;

// The eight speakers' directions, in row order.
const std::array<Direction, kCubeSpeakers>& CubeSpeakers();

// The rotation that brings the direction `look` to the front.
AcnMatrix LookRotation(const Direction& look);

// The max-rE decoder for a listener facing the front.
SpeakerFeeds CubeDecoder();

// The decoder times the rotation: the speaker feeds for a listener facing
// `look`, straight from the movie's W, Y, Z, X, its sound field turned
// first by `turn` (AmbisonicRotation.h; the identity: as it is).
SpeakerFeeds CubeDecoderFacing(const Direction& look, const AmbisonicRotation& turn = {});

// The four components of a plane wave of amplitude 1 from `direction`.
std::array<double, 4> PlaneWave(const Direction& direction);

}  // namespace spatialmux
