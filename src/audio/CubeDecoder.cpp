#include "audio/CubeDecoder.h"

#include <cmath>
#include <numbers>

namespace spatialmux {

namespace {

// ACN positions of the components.
constexpr int kW = 0;
constexpr int kY = 1;
constexpr int kZ = 2;
constexpr int kX = 3;

}  // namespace

const std::array<Direction, kCubeSpeakers>& CubeSpeakers() {
    static const double corner = std::atan(1.0 / std::sqrt(2.0)) / kRadiansPerDegree;  // 35.26
    static const std::array<Direction, kCubeSpeakers> speakers{{{45, corner},
                                                                {315, corner},
                                                                {135, corner},
                                                                {225, corner},
                                                                {45, -corner},
                                                                {315, -corner},
                                                                {135, -corner},
                                                                {225, -corner}}};
    return speakers;
}

std::array<double, 4> PlaneWave(const Direction& direction) {
    const double a = direction.azimuthDegrees * kRadiansPerDegree;
    const double e = direction.elevationDegrees * kRadiansPerDegree;
    return {1.0, std::cos(e) * std::sin(a), std::sin(e), std::cos(e) * std::cos(a)};
}

AcnMatrix LookRotation(const Direction& look) {
    const double a = look.azimuthDegrees * kRadiansPerDegree;
    const double e = look.elevationDegrees * kRadiansPerDegree;
    const double ca = std::cos(a);
    const double sa = std::sin(a);
    const double ce = std::cos(e);
    const double se = std::sin(e);
    AcnMatrix r{};
    r[kW][kW] = 1.0;
    r[kX][kX] = ce * ca;
    r[kX][kY] = ce * sa;
    r[kX][kZ] = se;
    r[kY][kX] = -sa;
    r[kY][kY] = ca;
    r[kZ][kX] = -se * ca;
    r[kZ][kY] = -se * sa;
    r[kZ][kZ] = ce;
    return r;
}

SpeakerFeeds CubeDecoder() {
    const double g1 = 1.0 / std::sqrt(3.0);  // max-rE: the largest root of P2
    SpeakerFeeds feeds{};
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        const std::array<double, 4> u = PlaneWave(CubeSpeakers()[i]);
        feeds[i][kW] = 1.0 / kCubeSpeakers;
        for (const int c : {kY, kZ, kX}) feeds[i][c] = 3.0 * g1 * u[c] / kCubeSpeakers;
    }
    return feeds;
}

SpeakerFeeds CubeDecoderFacing(const Direction& look, const AmbisonicRotation& turn) {
    const SpeakerFeeds decoder = CubeDecoder();
    const AcnMatrix facing = LookRotation(look);
    // The turn's X, Y, Z rows and columns in ACN places.
    const Rotation3 xyz = RotationMatrix(turn);
    constexpr std::size_t kAcnOf[3] = {kX, kY, kZ};
    AcnMatrix turned{};
    turned[kW][kW] = 1.0;
    for (std::size_t r = 0; r < 3; ++r) {
        for (std::size_t c = 0; c < 3; ++c) turned[kAcnOf[r]][kAcnOf[c]] = xyz[r][c];
    }
    AcnMatrix rotation{};
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t c = 0; c < 4; ++c) {
            for (std::size_t k = 0; k < 4; ++k) rotation[r][c] += facing[r][k] * turned[k][c];
        }
    }
    SpeakerFeeds feeds{};
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        for (std::size_t c = 0; c < 4; ++c) {
            for (std::size_t k = 0; k < 4; ++k) feeds[i][c] += decoder[i][k] * rotation[k][c];
        }
    }
    return feeds;
}

}  // namespace spatialmux
