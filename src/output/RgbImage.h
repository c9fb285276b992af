#pragma once
// A picture as rows of RGB24 pixels, for the sound map's drawing.

#include <cstdint>
#include <vector>

namespace spatialmux::output {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 3 bytes, rows from the top

    RgbImage() = default;
    RgbImage(int w, int h, Rgb fill = {})
        : width(w > 0 ? w : 0),
          height(h > 0 ? h : 0),
          pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        for (std::size_t i = 0; i < pixels.size(); i += 3) {
            pixels[i] = fill.r;
            pixels[i + 1] = fill.g;
            pixels[i + 2] = fill.b;
        }
    }

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    // The pixel at (x, y); the caller checks Contains first.
    Rgb Get(int x, int y) const {
        const std::size_t at = Offset(x, y);
        return {pixels[at], pixels[at + 1], pixels[at + 2]};
    }
    // Writes the pixel when it lies inside the picture; ignores it otherwise.
    void Set(int x, int y, Rgb colour) {
        if (!Contains(x, y)) return;
        const std::size_t at = Offset(x, y);
        pixels[at] = colour.r;
        pixels[at + 1] = colour.g;
        pixels[at + 2] = colour.b;
    }

private:
    std::size_t Offset(int x, int y) const {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(x)) *
               3;
    }
};

}  // namespace spatialmux::output
