// The sound map's geometry and energy: where a direction lies in the
// picture, where a plane wave's beam energy peaks, and that a swapped
// channel moves the peak away (so that the tests on movies can fail).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/AmbisonicEnergyMap.h"
#include "audio/AmbisonicRotation.h"
#include "audio/EquirectangularGrid.h"
#include "output/SoundMapDrawing.h"

namespace spatialmux {
namespace {

// A plane wave of band-limited noise from `direction`, in ACN/SN3D.
std::array<std::vector<float>, 4> PlaneWave(const Direction& direction, int count,
                                            double amplitude = 0.3) {
    const double a = direction.azimuthDegrees * std::numbers::pi / 180.0;
    const double e = direction.elevationDegrees * std::numbers::pi / 180.0;
    const double gains[4] = {1.0, std::cos(e) * std::sin(a), std::sin(e),
                             std::cos(e) * std::cos(a)};
    std::array<std::vector<float>, 4> channels;
    uint32_t state = 12345;
    double low = 0.0;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        low = 0.9 * low + 0.1 * (static_cast<double>(state >> 8) / (1 << 24) - 0.5);
        for (int c = 0; c < 4; ++c) {
            channels[static_cast<std::size_t>(c)].push_back(
                static_cast<float>(amplitude * 8.0 * low * gains[c]));
        }
    }
    return channels;
}

AmbisonicCovariance CovarianceOf(const std::array<std::vector<float>, 4>& c) {
    AmbisonicCovariance covariance;
    covariance.Add(c[0].data(), c[1].data(), c[2].data(), c[3].data(),
                   static_cast<int64_t>(c[0].size()));
    return covariance;
}

TEST(EquirectangularGrid, AzimuthGrowsToTheLeftAndElevationUp) {
    const double w = 400;
    const double h = 200;
    struct Case {
        double azimuth, elevation, x, y;
    };
    for (const Case& c :
         {Case{0, 0, 200, 100}, Case{90, 0, 100, 100}, Case{-90, 0, 300, 100},
          Case{-135, 30, 350, 200.0 / 3}, Case{180, 90, 0, 0}, Case{45, -45, 150, 150}}) {
        const PicturePoint p = DirectionToPicture({c.azimuth, c.elevation}, w, h);
        EXPECT_NEAR(p.x, c.x, 1e-9) << c.azimuth << " " << c.elevation;
        EXPECT_NEAR(p.y, c.y, 1e-9) << c.azimuth << " " << c.elevation;
        const Direction back = PictureToDirection(p, w, h);
        EXPECT_LT(AngleBetween(back, {c.azimuth, c.elevation}), 1e-6);
    }
    EXPECT_DOUBLE_EQ(WrapAzimuth(270), -90);
    EXPECT_DOUBLE_EQ(WrapAzimuth(-180), 180);
    EXPECT_NEAR(AngleBetween({90, 0}, {-90, 0}), 180, 1e-9);
    EXPECT_NEAR(AngleBetween({10, 90}, {170, 90}), 0, 1e-6);
}

TEST(AmbisonicEnergyMap, ThePeakIsTheSourceDirectionAndTheBeamIsACardioid) {
    for (const Direction source : {Direction{90, 0}, Direction{-135, 30}, Direction{0, 0},
                                   Direction{170, -60}, Direction{-20, 80}}) {
        const AmbisonicCovariance covariance = CovarianceOf(PlaneWave(source, 4800));
        const EnergyMap map = ComputeEnergyMap(covariance, 180, 90);
        EXPECT_LT(AngleBetween(map.peak, source), 1.0)
            << source.azimuthDegrees << " " << source.elevationDegrees << " -> "
            << map.peak.azimuthDegrees << " " << map.peak.elevationDegrees;
        // A cardioid: half the amplitude (-6 dB) at right angles, nothing behind.
        const double top = BeamEnergy(covariance, source);
        const Direction side{source.azimuthDegrees + 90, 0};
        const double sideAngle = AngleBetween(side, source);
        const double expected =
            std::pow(0.5 * (1 + std::cos(sideAngle * std::numbers::pi / 180)), 2);
        EXPECT_NEAR(BeamEnergy(covariance, side) / top, expected, 1e-6);
        const Direction behind{source.azimuthDegrees + 180, -source.elevationDegrees};
        EXPECT_LT(BeamEnergy(covariance, behind) / top, 1e-9);
        EXPECT_NEAR(map.peakDecibels, EnergyDecibels(top), 0.05);
    }
}

TEST(AmbisonicEnergyMap, SilenceIsFlooredAndCellsAreRowsFromTheTop) {
    AmbisonicCovariance silent;
    const EnergyMap quiet = ComputeEnergyMap(silent, 8, 4);
    EXPECT_EQ(quiet.decibels.size(), 32u);
    EXPECT_EQ(quiet.peakDecibels, kSilenceDecibels);

    // A source straight up lights the top row, not the bottom one.
    const EnergyMap up = ComputeEnergyMap(CovarianceOf(PlaneWave({0, 90}, 2000)), 8, 4);
    EXPECT_GT(up.At(3, 0), up.At(3, 3) + 20.0f);
    // A source on the left lights the left half.
    const EnergyMap left = ComputeEnergyMap(CovarianceOf(PlaneWave({90, 0}, 2000)), 8, 4);
    EXPECT_GT(left.At(2, 2), left.At(6, 2) + 20.0f);
}

// Swapping any two of the four channels must move the peak of at least one
// of the two test directions by more than 10 degrees: otherwise the tests
// on converted movies could not catch a swap.
TEST(AmbisonicEnergyMap, EverySwapOfTwoChannelsMovesAPeak) {
    const Direction sources[2] = {{90, 0}, {-135, 30}};
    for (int a = 0; a < 4; ++a) {
        for (int b = a + 1; b < 4; ++b) {
            bool moved = false;
            for (const Direction& source : sources) {
                auto channels = PlaneWave(source, 4800);
                std::swap(channels[static_cast<std::size_t>(a)],
                          channels[static_cast<std::size_t>(b)]);
                const EnergyMap map = ComputeEnergyMap(CovarianceOf(channels), 180, 90);
                moved = moved || AngleBetween(map.peak, source) > 10.0;
            }
            EXPECT_TRUE(moved) << "swapping channels " << a << " and " << b;
        }
    }
}

// The turn's convention, read back by the peak finder: yaw to the left,
// pitch from the front up, roll from the left up, in that order.
TEST(AmbisonicRotation, EachTurnMovesASourceWhereTheConventionSays) {
    struct Row {
        AmbisonicRotation turn;
        Direction from, to;
    };
    for (const Row& row : {
             Row{{90, 0, 0}, {0, 0}, {90, 0}},
             Row{{90, 0, 0}, {90, 0}, {180, 0}},
             Row{{-45, 0, 0}, {10, 20}, {-35, 20}},
             Row{{0, 90, 0}, {0, 0}, {0, 90}},
             Row{{0, 90, 0}, {0, 90}, {180, 0}},
             Row{{0, 30, 0}, {0, 0}, {0, 30}},
             Row{{0, 0, 90}, {90, 0}, {0, 90}},
             Row{{0, 0, 90}, {0, 90}, {-90, 0}},
             Row{{90, 90, 0}, {0, 0}, {90, 0}},   // yaw first: to the left, then the
             Row{{90, 0, 90}, {0, 0}, {0, 90}},   // left-right axis keeps it, roll lifts it
             Row{{0, 90, 90}, {0, 0}, {-90, 0}},  // up, then from up to the right
             Row{{180, 0, 0}, {30, 10}, {-150, 10}},
         }) {
        auto channels = PlaneWave(row.from, 4800);
        const std::vector<float> w = channels[0];
        RotateAmbisonics(RotationMatrix(row.turn), channels[1].data(), channels[2].data(),
                         channels[3].data(), static_cast<int64_t>(w.size()));
        EXPECT_EQ(channels[0], w);
        const EnergyMap map = ComputeEnergyMap(CovarianceOf(channels), 180, 90);
        EXPECT_LT(AngleBetween(map.peak, row.to), 1.0)
            << AmbisonicRotationText(row.turn) << ": " << map.peak.azimuthDegrees << " "
            << map.peak.elevationDegrees;
    }
    // Quarter turns are exact; a turned component beyond full scale is held.
    float y[2] = {0.0f, 0.9f};
    float z[2] = {0.25f, 0.0f};
    float x[2] = {-1.0f, 0.9f};
    RotateAmbisonics(RotationMatrix({90, 0, 0}), y, z, x, 1);
    EXPECT_EQ(x[0], 0.0f);
    EXPECT_EQ(y[0], -1.0f);
    EXPECT_EQ(z[0], 0.25f);
    RotateAmbisonics(RotationMatrix({45, 0, 0}), y + 1, z + 1, x + 1, 1);
    EXPECT_EQ(y[1], 1.0f);
    EXPECT_NEAR(x[1], 0.0f, 1e-7);
}

TEST(AmbisonicRotation, TheTextIsReadAndWrittenExactly) {
    struct Good {
        const char* text;
        AmbisonicRotation turn;
        const char* written;
    };
    for (const Good& row : {
             Good{"90", {90, 0, 0}, "90"},
             Good{"+90,-12.5", {90, -12.5, 0}, "90,-12.5"},
             Good{"450,0,-190", {90, 0, 170}, "90,0,170"},
             Good{"-180", {180, 0, 0}, "180"},
             Good{"1e1,0.1", {10, 0.1, 0}, "10,0.1"},
             Good{"360,-720", {0, 0, 0}, "0"},
             Good{"0,0,3", {0, 0, 3}, "0,0,3"},
             Good{"-.5,1E1", {-0.5, 10, 0}, "-0.5,10"},
         }) {
        std::string problem;
        const auto turn = ParseAmbisonicRotation(row.text, &problem);
        ASSERT_TRUE(turn) << row.text << ": " << problem;
        EXPECT_EQ(*turn, row.turn) << row.text;
        EXPECT_EQ(AmbisonicRotationText(*turn), row.written);
        EXPECT_EQ(ParseAmbisonicRotation(AmbisonicRotationText(*turn), nullptr), turn);
    }
    EXPECT_EQ(AmbisonicRotationWords({450, -12.5, 0}), "yaw 90, pitch -12.5, roll 0 degrees");
    EXPECT_TRUE(ParseAmbisonicRotation("360,-720", nullptr)->IsIdentity());
    EXPECT_FALSE(ParseAmbisonicRotation("0,0,0.001", nullptr)->IsIdentity());
    for (const char* wrong : {"",     ",",     "90,", ",5",  "left", "90,0,0,0", "nan", "inf",
                              "-inf", "1e400", "90 ", " 90", "90;0", "+-5",      "++5", "0x10",
                              "9O",   "90,,0", "1e",  "1-2", "-",    "-+5"}) {
        std::string problem;
        EXPECT_FALSE(ParseAmbisonicRotation(wrong, &problem)) << wrong;
        EXPECT_NE(problem.find("YAW[,PITCH[,ROLL]]"), std::string::npos) << problem;
    }
}

TEST(AmbisonicEnergyMap, ASwappedCovarianceIsThatOfSwappedChannels) {
    auto channels = PlaneWave({-135, 30}, 1000);
    const AmbisonicCovariance original = CovarianceOf(channels);
    std::swap(channels[1], channels[3]);
    const AmbisonicCovariance swapped = CovarianceOf(channels);
    const AmbisonicCovariance derived = original.WithChannelsSwapped(1, 3);
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) EXPECT_NEAR(derived.At(a, b), swapped.At(a, b), 1e-12);
    }
}

TEST(SoundMapDrawing, HeatAndMarkerSitWhereTheMapSays) {
    using output::RgbImage;
    const AmbisonicCovariance covariance = CovarianceOf(PlaneWave({90, 0}, 2000));
    const EnergyMap map = ComputeEnergyMap(covariance, 200, 100);
    RgbImage picture(200, 100, {50, 50, 50});
    output::HeatScale scale = output::ScaleForPeaks({map.peakDecibels});
    output::DrawHeatMap(picture, map, scale);
    // Red-ish at the source (x = 50, left), the picture untouched behind it.
    const output::Rgb atSource = picture.Get(50, 50);
    EXPECT_GT(atSource.r, 150);
    EXPECT_LT(atSource.b, 60);
    EXPECT_EQ(picture.Get(150, 50), (output::Rgb{50, 50, 50}));

    output::DrawPeakMarker(picture, map.peak);
    int cx = 0;
    int cy = 0;
    output::MarkerCentre(map.peak, 200, 100, &cx, &cy);
    EXPECT_NEAR(cx, 50, 1);
    EXPECT_NEAR(cy, 50, 1);
    EXPECT_EQ(picture.Get(cx + output::kMarkerReach, cy), output::kMarkerColour);
    EXPECT_EQ(picture.Get(cx, cy - output::kMarkerRadius), output::kMarkerColour);
    EXPECT_NE(picture.Get(cx, cy), output::kMarkerColour);

    // Near a side edge the marker goes on at the other side.
    RgbImage edge(200, 100);
    output::DrawPeakMarker(edge, {179, 0});
    EXPECT_EQ(edge.Get(199 - output::kMarkerReach + 2, 50), output::kMarkerColour);
}

TEST(SoundMapDrawing, HeatColoursRunFromBlueToRed) {
    const output::Rgb bottom = output::HeatColour(0.0);
    const output::Rgb top = output::HeatColour(1.0);
    EXPECT_GT(bottom.b, bottom.r);
    EXPECT_GT(top.r, 200);
    EXPECT_LT(top.b, 50);
    EXPECT_EQ(output::HeatColour(-3.0), bottom);
    EXPECT_EQ(output::HeatColour(7.0), top);
    EXPECT_EQ(output::ScaleForPeaks({-10.5, -4.2}).topDecibels, -3.0);
    // A silent moment neither sets the scale nor gets a colour or a marker.
    EXPECT_EQ(output::ScaleForPeaks({kSilenceDecibels, -10.5}).topDecibels, -9.0);
    AmbisonicCovariance silence;
    const EnergyMap quiet = ComputeEnergyMap(silence, 64, 32);
    const output::RgbImage grey(64, 32, {100, 100, 100});
    const output::RgbImage tile = output::DrawSoundMapTile(
        grey, quiet, output::ScaleForPeaks({quiet.peakDecibels}), "0.50 s  silent");
    output::RgbImage muted = grey;
    output::MuteColours(muted);
    for (int y = 12; y < 32; ++y) {  // below the azimuth marks
        for (int x = 0; x < 64; ++x) ASSERT_EQ(tile.Get(x, y), muted.Get(x, y)) << x << " " << y;
    }
    // A small video's label is made smaller, in two lines, never cut at the
    // tile's edge.
    const output::RgbImage small(128, 64, {100, 100, 100});
    const output::RgbImage labelled = output::DrawSoundMapTile(
        small, quiet, output::ScaleForPeaks({quiet.peakDecibels}), "0.17 s  az -86 el -54  -10 dB");
    int lit = 0;
    for (int y = 64; y < labelled.height; ++y) {
        for (int x = 0; x < 128; ++x) {
            if (labelled.Get(x, y) == labelled.Get(0, labelled.height - 1)) continue;
            ++lit;
            EXPECT_LT(x, 124) << "cut at the edge: " << x << " " << y;
        }
    }
    EXPECT_GT(lit, 0);
}

}  // namespace
}  // namespace spatialmux
