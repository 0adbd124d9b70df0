// Control points, the ".tf" file and the walk that turns the points into the
// 1024-texel lookup table: plain data, no device.
//
// The file: little-endian u32 count, then count records of five f32
// (position, red, green, blue, alpha); exactly 4 + 20 * count bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ControlPoint {
    float position;
    float red;
    float green;
    float blue;
    float alpha;
};
static_assert(sizeof(ControlPoint) == 20);

inline constexpr int kTransferTexels = 1024;

// Fills 1024 RGBA texels: texel j holds the function at j / 1024, linear
// between neighbouring points. A segment of zero length takes its end point's
// values; past a last point below 1 the last point's values repeat.
void WalkTransferFunction(const ControlPoint* points, uint32_t pointCount, float* texels);

// A channel's colour (0xRRGGBB): the file's, or where it gives none (-1)
// the microscopists' order by index: green, magenta, cyan, yellow.
uint32_t ChannelColour(int32_t fileColour, uint32_t index);
// The function a channel starts with: clear at the bottom of its value
// window, rising in its colour to kChannelRampOpacity at the top.
inline constexpr float kChannelRampOpacity = 0.5f;
std::vector<ControlPoint> ChannelRamp(uint32_t rgb);

// The file's bytes for these points.
std::vector<uint8_t> SerializeTransferFunction(const ControlPoint* points, uint32_t pointCount);

// The most points a ".tf" file may hold: far more than the graph can show
// apart, few enough that every edit's geometry stays small.
inline constexpr uint32_t kMaxControlPoints = 4096;

// Reads a ".tf" file's bytes: 2 to kMaxControlPoints points, all of them
// present (bytes after the last record are ignored), positions from 0 to 1
// in order, colours and opacities within 0..1, nothing NaN or infinite. False
// with the reason (naming the first bad point) in *error otherwise.
bool ParseTransferFunction(const uint8_t* bytes, size_t size, std::vector<ControlPoint>* points,
                           std::string* error);
