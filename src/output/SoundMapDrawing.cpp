#include "output/SoundMapDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "output/BitmapFont.h"

namespace spatialmux::output {

namespace {

constexpr Rgb kBackground{24, 24, 28};
constexpr Rgb kLabelColour{235, 235, 235};
constexpr int kGap = 6;  // between tiles and around the sheet

// The strongest blend, at the top of the scale: the picture always shows through.
constexpr double kMostOpaque = 0.7;

uint8_t Mix(uint8_t under, uint8_t over, double alpha) {
    return static_cast<uint8_t>(std::lround(under * (1.0 - alpha) + over * alpha));
}

int Wrap(int x, int width) {
    const int wrapped = x % width;
    return wrapped < 0 ? wrapped + width : wrapped;
}

std::string DecibelText(double decibels) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.0f dB", decibels);
    return text;
}

}  // namespace

HeatScale ScaleForPeaks(const std::vector<double>& peaks) {
    HeatScale scale;
    // Silent moments do not pull the scale down: their maps stay uncoloured.
    double loudest = kQuietestPeakDecibels + scale.rangeDecibels;
    bool heard = false;
    for (double peak : peaks) {
        if (peak < kQuietestPeakDecibels) continue;
        loudest = heard ? std::max(loudest, peak) : peak;
        heard = true;
    }
    scale.topDecibels = std::ceil(loudest / 3.0) * 3.0;
    return scale;
}

Rgb HeatColour(double level) {
    static constexpr Rgb kStops[] = {
        {0, 40, 200}, {0, 190, 255}, {40, 220, 60}, {255, 220, 0}, {255, 30, 0}};
    constexpr int kLast = static_cast<int>(std::size(kStops)) - 1;
    const double at = std::clamp(level, 0.0, 1.0) * kLast;
    const int low = std::min(static_cast<int>(at), kLast - 1);
    const double t = at - low;
    const Rgb a = kStops[low];
    const Rgb b = kStops[low + 1];
    return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)};
}

void DrawHeatMap(RgbImage& picture, const EnergyMap& map, const HeatScale& scale) {
    if (picture.width <= 0 || picture.height <= 0 || map.width <= 0 || map.height <= 0 ||
        map.decibels.size() !=
            static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height)) {
        return;
    }
    const double bottom = scale.topDecibels - scale.rangeDecibels;
    for (int y = 0; y < picture.height; ++y) {
        const int row = std::min(map.height - 1, y * map.height / picture.height);
        for (int x = 0; x < picture.width; ++x) {
            const int column = std::min(map.width - 1, x * map.width / picture.width);
            const double level = (map.At(column, row) - bottom) / scale.rangeDecibels;
            if (level <= 0.0) continue;
            const Rgb heat = HeatColour(level);
            const double alpha = kMostOpaque * std::min(level, 1.0);
            const Rgb under = picture.Get(x, y);
            picture.Set(x, y,
                        {Mix(under.r, heat.r, alpha), Mix(under.g, heat.g, alpha),
                         Mix(under.b, heat.b, alpha)});
        }
    }
}

void MarkerCentre(const Direction& direction, int width, int height, int* x, int* y) {
    const PicturePoint point = DirectionToPicture(direction, width, height);
    *x = std::clamp(static_cast<int>(std::floor(point.x)), 0, std::max(width - 1, 0));
    *y = std::clamp(static_cast<int>(std::floor(point.y)), 0, std::max(height - 1, 0));
}

void DrawPeakMarker(RgbImage& picture, const Direction& direction) {
    if (picture.width <= 0 || picture.height <= 0) return;
    int cx = 0;
    int cy = 0;
    MarkerCentre(direction, picture.width, picture.height, &cx, &cy);
    // Every pixel of the marker, as offsets from the centre.
    std::vector<std::pair<int, int>> shape;
    for (int dy = -kMarkerRadius - 1; dy <= kMarkerRadius + 1; ++dy) {
        for (int dx = -kMarkerRadius - 1; dx <= kMarkerRadius + 1; ++dx) {
            const double r = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            if (std::fabs(r - kMarkerRadius) < 0.8) shape.emplace_back(dx, dy);
        }
    }
    for (int d = kMarkerRadius + 3; d <= kMarkerReach; ++d) {
        shape.emplace_back(d, 0);
        shape.emplace_back(-d, 0);
        shape.emplace_back(0, d);
        shape.emplace_back(0, -d);
    }
    auto put = [&picture, cx, cy](int dx, int dy, Rgb colour) {
        // Across a side edge the sphere goes on at the other side.
        picture.Set(Wrap(cx + dx, picture.width), cy + dy, colour);
    };
    for (const auto& [dx, dy] : shape) {
        for (int ox = -1; ox <= 1; ++ox) {
            for (int oy = -1; oy <= 1; ++oy) put(dx + ox, dy + oy, Rgb{0, 0, 0});
        }
    }
    for (const auto& [dx, dy] : shape) put(dx, dy, kMarkerColour);
}

void MuteColours(RgbImage& picture) {
    for (std::size_t i = 0; i + 2 < picture.pixels.size(); i += 3) {
        const int luma =
            (299 * picture.pixels[i] + 587 * picture.pixels[i + 1] + 114 * picture.pixels[i + 2]) /
            1000;
        const auto grey = static_cast<uint8_t>(24 + luma * 3 / 4);
        picture.pixels[i] = picture.pixels[i + 1] = picture.pixels[i + 2] = grey;
    }
}

RgbImage DrawSoundMapTile(RgbImage picture, const EnergyMap& map, const HeatScale& scale,
                          const std::string& label) {
    // The video's own colours would mix with the heat's; in muted grey the
    // picture still shows where things are, and the heat reads over it.
    MuteColours(picture);
    DrawHeatMap(picture, map, scale);
    // Azimuth marks along the top: where the picture's directions lie.
    for (const int azimuth : {180, 90, 0, -90}) {
        const PicturePoint point =
            DirectionToPicture({static_cast<double>(azimuth), 0.0}, picture.width, picture.height);
        const std::string text =
            azimuth > 0 && azimuth < 180 ? "+" + std::to_string(azimuth) : std::to_string(azimuth);
        const int x = static_cast<int>(point.x) + (azimuth == 180 ? 3 : -TextWidth(text, 1) / 2);
        DrawText(picture, x, 3, text, kLabelColour, 1, true);
    }
    if (map.peakDecibels >= kQuietestPeakDecibels) DrawPeakMarker(picture, map.peak);

    RgbImage tile(picture.width, picture.height + kLabelStripHeight, kBackground);
    std::copy(picture.pixels.begin(), picture.pixels.end(), tile.pixels.begin());
    // The label large where it fits; on a small video small, and in two
    // lines where one small line would be cut: "TIME  LEVEL" above the
    // direction ("TIME  az A el E  LEVEL").
    const int room = picture.width - 8;
    if (TextWidth(label, 2) <= room) {
        DrawText(tile, 4, picture.height + (kLabelStripHeight - 2 * kGlyphHeight) / 2, label,
                 kLabelColour, 2);
    } else if (TextWidth(label, 1) <= room || label.find("  ") == std::string::npos) {
        DrawText(tile, 4, picture.height + (kLabelStripHeight - kGlyphHeight) / 2, label,
                 kLabelColour, 1);
    } else {
        std::vector<std::string> parts;
        for (std::size_t from = 0; from < label.size();) {
            const std::size_t gap = label.find("  ", from);
            parts.push_back(label.substr(from, gap - from));
            from = gap == std::string::npos ? label.size() : label.find_first_not_of(' ', gap);
        }
        // The longest part (the direction) has the second line to itself.
        const auto longest = std::max_element(
            parts.begin() + 1, parts.end(),
            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
        std::string first;
        for (auto part = parts.begin(); part != parts.end(); ++part) {
            if (part != longest) first += (first.empty() ? "" : "  ") + *part;
        }
        const std::string& second = *longest;
        const int top = picture.height + (kLabelStripHeight - 2 * kGlyphHeight - 2) / 2;
        DrawText(tile, 4, top, first, kLabelColour, 1);
        DrawText(tile, 4, top + kGlyphHeight + 2, second, kLabelColour, 1);
    }
    return tile;
}

void TileOriginInSheet(int index, int columns, int tileWidth, int tileHeight, int* x, int* y) {
    columns = std::max(columns, 1);
    *x = kGap + index % columns * (tileWidth + kGap);
    *y = kGap + index / columns * (tileHeight + kGap);
}

RgbImage LayOutContactSheet(const std::vector<RgbImage>& tiles, int columns,
                            const HeatScale& scale) {
    if (tiles.empty()) return {};
    columns = std::clamp(columns, 1, static_cast<int>(tiles.size()));
    const int rows = (static_cast<int>(tiles.size()) + columns - 1) / columns;
    const int tileWidth = tiles.front().width;
    const int tileHeight = tiles.front().height;
    constexpr int kScaleHeight = 40;
    RgbImage sheet(kGap + columns * (tileWidth + kGap),
                   kGap + rows * (tileHeight + kGap) + kScaleHeight, kBackground);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        int left = 0;
        int top = 0;
        TileOriginInSheet(static_cast<int>(i), columns, tileWidth, tileHeight, &left, &top);
        const RgbImage& tile = tiles[i];
        for (int y = 0; y < std::min(tile.height, tileHeight); ++y) {
            for (int x = 0; x < std::min(tile.width, tileWidth); ++x) {
                sheet.Set(left + x, top + y, tile.Get(x, y));
            }
        }
    }
    // The colour scale: a bar from the bottom of the scale to its top, with
    // both ends and the middle labelled in dB (0 dB: a full-scale plane wave).
    const int barTop = sheet.height - kScaleHeight + 4;
    const int barLeft = kGap + 60;
    const int barWidth = std::min(300, std::max(60, sheet.width - barLeft - 60));
    constexpr int kBarHeight = 12;
    for (int x = 0; x < barWidth; ++x) {
        const Rgb colour = HeatColour(static_cast<double>(x) / std::max(barWidth - 1, 1));
        for (int y = 0; y < kBarHeight; ++y) sheet.Set(barLeft + x, barTop + y, colour);
    }
    const double bottom = scale.topDecibels - scale.rangeDecibels;
    const int textTop = barTop + kBarHeight + 4;
    for (const double fraction : {0.0, 0.5, 1.0}) {
        const std::string text = DecibelText(bottom + fraction * scale.rangeDecibels);
        const int x =
            barLeft + static_cast<int>(fraction * (barWidth - 1)) - TextWidth(text, 2) / 2;
        DrawText(sheet, x, textTop, text, kLabelColour, 2);
    }
    return sheet;
}

}  // namespace spatialmux::output
