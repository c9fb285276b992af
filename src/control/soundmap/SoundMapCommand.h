#pragma once
// spatialmux --soundmap: where the sound comes from, drawn over the 360
// picture. For each chosen moment the video frame shown then is decoded,
// the directional energy of about 100 ms of ambisonic audio around it is
// mapped over the picture (AmbisonicEnergyMap.h) with its loudest direction
// marked, and the moments are laid out as one contact-sheet PNG.
//
// A camera movie is mapped with its audio as the conversion will write it
// (channels 1, 3, 4, 2, the gain on channel 1); any other movie needs
// first-order ACN/SN3D ambisonics that its SA3D box declares. With a turn
// (--rotate-audio) the field is mapped as a conversion with that turn will
// write it. Only the headers and the media around each moment are read.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "audio/AmbisonicEnergyMap.h"
#include "audio/AmbisonicRotation.h"
#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

struct SoundMapRequest {
    std::string input;
    std::string output;          // empty: DefaultSoundMapPath(input)
    int moments = 6;             // evenly spread, when `at` is empty
    std::vector<double> at;      // the moments in seconds from the start
    AmbisonicRotation rotation;  // the turn of the sound field, if any
};

struct SoundMapMoment {
    double seconds = 0.0;
    AmbisonicCovariance covariance;
    EnergyMap map;  // at the tile's picture size: one cell per pixel
};

struct SoundMapResult {
    std::string outputPath;
    bool cameraMovie = false;
    double durationSeconds = 0.0;
    int tileWidth = 0;  // the picture of each tile, without its label strip
    int tileHeight = 0;
    int columns = 0;
    std::vector<SoundMapMoment> moments;
};

// Length of the audio around each moment.
inline constexpr double kSoundMapWindowSeconds = 0.1;

// INPUT's name without its extension, with ".soundmap.png", beside it.
std::string DefaultSoundMapPath(const std::string& input);

// `count` moments evenly spread over `duration`: the middles of equal parts.
std::vector<double> SpreadMoments(double duration, int count);

// The tile's top-left corner in the contact sheet (within it, the picture
// starts at the corner).
void TileOrigin(const SoundMapResult& result, int index, int* x, int* y);

// Makes the maps and writes the PNG. Nothing, with `problem` saying why,
// when the movie is refused or anything fails; then no PNG is left behind.
std::optional<SoundMapResult> MakeSoundMap(const SoundMapRequest& request, std::string* problem);

// The command: a line per moment on `out`, the problem on `err`. Exit
// status 0 written, 1 refused or failed.
int RunSoundMap(const SoundMapRequest& request, std::FILE* out, std::FILE* err);

}  // namespace spatialmux
