#include "audio/AmbisonicEnergyMap.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace spatialmux {

namespace {

constexpr double kOmniWeight = 0.5;  // the cardioid: half W, half the figure-of-eight

// The beam's weights on W, Y, Z, X.
std::array<double, 4> BeamWeights(const Direction& direction) {
    const double a = direction.azimuthDegrees * kRadiansPerDegree;
    const double e = direction.elevationDegrees * kRadiansPerDegree;
    const double d = 1.0 - kOmniWeight;
    return {kOmniWeight, d * std::cos(e) * std::sin(a), d * std::sin(e),
            d * std::cos(e) * std::cos(a)};
}

}  // namespace

void AmbisonicCovariance::Add(const float* w, const float* y, const float* z, const float* x,
                              int64_t count) {
    const float* channels[4] = {w, y, z, x};
    for (int64_t i = 0; i < count; ++i) {
        double v[4];
        for (int c = 0; c < 4; ++c) v[c] = static_cast<double>(channels[c][i]);
        for (int a = 0; a < 4; ++a) {
            for (int b = a; b < 4; ++b) sums[static_cast<std::size_t>(a * 4 + b)] += v[a] * v[b];
        }
    }
    samples += std::max<int64_t>(count, 0);
}

double AmbisonicCovariance::At(int a, int b) const {
    if (samples <= 0) return 0.0;
    const int low = std::min(a, b);
    const int high = std::max(a, b);
    return sums[static_cast<std::size_t>(low * 4 + high)] / static_cast<double>(samples);
}

AmbisonicCovariance AmbisonicCovariance::WithChannelsSwapped(int a, int b) const {
    auto moved = [a, b](int k) { return k == a ? b : (k == b ? a : k); };
    AmbisonicCovariance swapped;
    swapped.samples = samples;
    for (int k = 0; k < 4; ++k) {
        for (int l = k; l < 4; ++l) {
            const int i = std::min(moved(k), moved(l));
            const int j = std::max(moved(k), moved(l));
            swapped.sums[static_cast<std::size_t>(k * 4 + l)] =
                sums[static_cast<std::size_t>(i * 4 + j)];
        }
    }
    return swapped;
}

double BeamEnergy(const AmbisonicCovariance& covariance, const Direction& direction) {
    const std::array<double, 4> d = BeamWeights(direction);
    double energy = 0.0;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            energy += d[static_cast<std::size_t>(a)] * d[static_cast<std::size_t>(b)] *
                      covariance.At(a, b);
        }
    }
    return std::max(energy, 0.0);
}

double EnergyDecibels(double energy) {
    if (!(energy > 0.0)) return kSilenceDecibels;
    return std::max(10.0 * std::log10(energy), kSilenceDecibels);
}

EnergyMap ComputeEnergyMap(const AmbisonicCovariance& covariance, int width, int height) {
    EnergyMap map;
    map.width = std::max(width, 1);
    map.height = std::max(height, 1);
    map.decibels.resize(static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height));
    double best = -1.0;
    for (int row = 0; row < map.height; ++row) {
        for (int column = 0; column < map.width; ++column) {
            const Direction direction =
                PictureToDirection({column + 0.5, row + 0.5}, map.width, map.height);
            const double energy = BeamEnergy(covariance, direction);
            map.decibels[static_cast<std::size_t>(row) * static_cast<std::size_t>(map.width) +
                         static_cast<std::size_t>(column)] =
                static_cast<float>(EnergyDecibels(energy));
            if (energy > best) {
                best = energy;
                map.peak = direction;
            }
        }
    }
    // Refine around the best cell: the peak of a single source lies anywhere
    // inside it, and the marker should not jump by a cell between maps that
    // differ by rounding only.
    const double cellAzimuth = 360.0 / map.width;
    const double cellElevation = 180.0 / map.height;
    const Direction centre = map.peak;
    constexpr int kSteps = 8;
    for (int i = -kSteps; i <= kSteps; ++i) {
        for (int j = -kSteps; j <= kSteps; ++j) {
            Direction direction;
            direction.azimuthDegrees =
                WrapAzimuth(centre.azimuthDegrees + i * cellAzimuth / kSteps);
            direction.elevationDegrees =
                std::clamp(centre.elevationDegrees + j * cellElevation / kSteps, -90.0, 90.0);
            const double energy = BeamEnergy(covariance, direction);
            if (energy > best) {
                best = energy;
                map.peak = direction;
            }
        }
    }
    map.peakDecibels = EnergyDecibels(best);
    return map;
}

}  // namespace spatialmux
