#pragma once
// A tiny built-in 5 x 7 pixel font for the sound map's labels: digits, signs
// and the few letters the labels use ("s", "dB", "az", "el", ...). Letters
// it does not have are drawn as a space.

#include <string>

#include "output/RgbImage.h"

namespace spatialmux::output {

// Width and height of one character cell at scale 1 (glyph plus spacing).
inline constexpr int kGlyphAdvance = 6;
inline constexpr int kGlyphHeight = 7;

int TextWidth(const std::string& text, int scale);

// Draws `text` with its top-left corner at (x, y), each font pixel as a
// scale x scale square; with `shadow` every lit pixel first gets a dark
// copy one step down and right, so that the text reads over any picture.
void DrawText(RgbImage& image, int x, int y, const std::string& text, Rgb colour, int scale,
              bool shadow = false);

}  // namespace spatialmux::output
