#pragma once
// Drawing the sound map: the beam energy of the audio as a translucent heat
// map over the equirectangular picture, the loudest direction marked with a
// ring and a cross-hair, azimuth marks along the top, each tile's label, and
// the tiles laid out as one contact sheet with a decibel colour scale.
// Directions map to pixels as EquirectangularGrid.h says: azimuth 0 at the
// centre, +90 (left) at a quarter of the width, elevation +90 at the top.

#include <string>
#include <vector>

#include "audio/AmbisonicEnergyMap.h"
#include "output/RgbImage.h"

namespace spatialmux::output {

// The marker's colour, drawn over a black outline.
inline constexpr Rgb kMarkerColour{255, 255, 255};
// The marker's ring radius and cross-hair reach, in pixels from its centre.
inline constexpr int kMarkerRadius = 8;
inline constexpr int kMarkerReach = 16;

// The decibels that the colours span: `topDecibels` is full red, anything
// `rangeDecibels` or more below it is left uncoloured.
struct HeatScale {
    double topDecibels = 0.0;
    double rangeDecibels = 20.0;
};

// A moment whose loudest direction is quieter than this (below the last bit
// of 16-bit audio) is silent: it gets no colour and no marker.
inline constexpr double kQuietestPeakDecibels = -96.0;

// A scale whose top is the loudest of `peaks` that are not silent, rounded
// up to whole 3 dB.
HeatScale ScaleForPeaks(const std::vector<double>& peaks);

// The colour of a level from 0 (the bottom of the scale) to 1 (the top):
// blue, cyan, green, yellow, red.
Rgb HeatColour(double level);

// Blends the map over the picture; the map's grid is resampled to the
// picture's size (nearest cell).
void DrawHeatMap(RgbImage& picture, const EnergyMap& map, const HeatScale& scale);

// The ring and cross-hair centred on `direction`'s pixel; both wrap around
// the picture's side edges as the sphere does.
void DrawPeakMarker(RgbImage& picture, const Direction& direction);

// The pixel that DrawPeakMarker centres on for `direction`.
void MarkerCentre(const Direction& direction, int width, int height, int* x, int* y);

// Turns the picture into dimmed grey (the tiles show it so under the heat).
void MuteColours(RgbImage& picture);

// One tile: the picture (muted) with the heat map, marker (unless silent) and azimuth marks, and a
// label strip below it.
RgbImage DrawSoundMapTile(RgbImage picture, const EnergyMap& map, const HeatScale& scale,
                          const std::string& label);

// The height of a tile's label strip.
inline constexpr int kLabelStripHeight = 22;

// Where tile `index` (tiles of tileWidth x tileHeight, label strip
// included) starts in a contact sheet of `columns`.
void TileOriginInSheet(int index, int columns, int tileWidth, int tileHeight, int* x, int* y);

// The tiles (all of one size) in rows of `columns`, with the colour scale
// below them.
RgbImage LayOutContactSheet(const std::vector<RgbImage>& tiles, int columns,
                            const HeatScale& scale);

}  // namespace spatialmux::output
