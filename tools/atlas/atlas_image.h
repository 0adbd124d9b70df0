// The interface atlas: a 512 x 512 RGBA picture with the rotation icon, the
// panel's handle strip, its background and the hue/saturation chart, each at
// the place the panel geometry samples it.
#pragma once

#include <cstdint>
#include <vector>

namespace atlas {

inline constexpr int kSize = 512;

// Where the panel geometry samples, in texels (v = 0 is the top row).
inline constexpr int kChartLeft = 0;
inline constexpr int kChartWidth = 179;  // 179 texels for 180 screen pixels
inline constexpr int kChartTop = 332;    // v = 0.6484375
inline constexpr int kChartHeight = 180;

// The hue and saturation the chart shows at texel (column, row) of the chart,
// taken at the texel's centre: hue 0 to 360 left to right, saturation 1 at the
// top down to 0 at the bottom, lightness 0.5.
void ChartColourAt(int column, int row, float* hue, float* saturation);

// RGBA8, rows top to bottom, kSize x kSize.
std::vector<uint8_t> DrawInterfaceAtlas();

// The rotation icon's region (top right) and the desktop icon made from it.
inline constexpr int kIconLeft = 480;
inline constexpr int kIconSize = 32;

// RGBA8, kIconSize square: the atlas's rotation icon over a rounded square of
// the viewer's dark blue, so that it reads on light and dark desktops alike.
std::vector<uint8_t> DrawDesktopIcon(const std::vector<uint8_t>& atlasPixels);

}  // namespace atlas
