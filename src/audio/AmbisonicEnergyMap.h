#pragma once
// The directional energy of first-order ambisonic audio (ACN channel order
// W, Y, Z, X with SN3D normalisation): the 4 x 4 covariance of a stretch of
// audio, the energy of a beam steered to any direction, a map of that energy
// over an equirectangular grid, and the loudest direction.
//
// The beam is a first-order cardioid steered to the unit vector
//   u = (x, y, z) = (cos e cos a, cos e sin a, sin e)   (a azimuth, e elevation)
// whose output is
//   b(a, e) = 0.5 W + 0.5 (Y u.y + Z u.z + X u.x).
// With SN3D a plane wave s from direction v has W = s and (X, Y, Z) = s v, so
// the beam gives s (1 + u.v) / 2: the full wave towards v, half of it (-6 dB)
// at right angles and nothing from behind, without the rear lobes of sharper
// first-order beams that would paint a second, false source opposite the
// real one. The energy is b's mean square, d^T C d with C the covariance and
// d the beam's weights; 0 dB is the energy of a full-scale plane wave
// (W = 1). The grid follows EquirectangularGrid.h (azimuth +90 = left).

#include <array>
#include <cstdint>
#include <vector>

#include "audio/EquirectangularGrid.h"

namespace spatialmux {

// The mean products of the four channels over the samples added, in ACN
// order (index 0 W, 1 Y, 2 Z, 3 X).
class AmbisonicCovariance {
public:
    void Add(const float* w, const float* y, const float* z, const float* x, int64_t count);
    int64_t Samples() const { return samples; }
    // The mean of channel a times channel b (0 when nothing was added).
    double At(int a, int b) const;
    // The covariance of the same audio with channels a and b swapped: what
    // a movie with those two channels in each other's place would show.
    AmbisonicCovariance WithChannelsSwapped(int a, int b) const;

private:
    std::array<double, 16> sums{};
    int64_t samples = 0;
};

// The beam's mean-square output towards `direction` (linear, not dB).
double BeamEnergy(const AmbisonicCovariance& covariance, const Direction& direction);

// Decibels of an energy, with silence floored at kSilenceDecibels.
inline constexpr double kSilenceDecibels = -200.0;
double EnergyDecibels(double energy);

struct EnergyMap {
    int width = 0;   // grid cells across (azimuth)
    int height = 0;  // grid cells down (elevation)
    // Beam energy in dB per cell, row by row from the top (elevation +90),
    // each cell evaluated at its centre.
    std::vector<float> decibels;
    Direction peak;  // the loudest direction, refined below the cell size
    double peakDecibels = kSilenceDecibels;

    float At(int column, int row) const {
        return decibels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(column)];
    }
};

// A map of width x height cells (both at least 1).
EnergyMap ComputeEnergyMap(const AmbisonicCovariance& covariance, int width, int height);

}  // namespace spatialmux
