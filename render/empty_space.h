// Space the transfer function makes clear. A slice fragment whose lookup
// opacity is 0 is discarded and changes no pixel, so the slice pass may leave
// out whatever lies outside the part of the box where a sample can be seen:
// whole slices in front of and behind it, and (by a scissor rectangle) the
// pixels around its picture. Everything here is conservative, so the picture
// stays exactly what drawing every slice everywhere gives.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3dx/d3dx_math.h"

// The volume in bricks of kBrickSize^3 samples, each with the range of the
// 16-bit texel values a trilinear sample taken in it can mix: the brick's
// own samples, the next one along each axis that filtering reaches, and one
// more either side against rounding in the sampler's position.
struct VolumeBricks {
    static constexpr uint32_t kBrickSize = 16;
    uint32_t dims[3] = {0, 0, 0};
    uint32_t bricks[3] = {0, 0, 0};
    std::vector<uint16_t> low, high;  // x fastest
};
VolumeBricks MeasureBricks(const uint16_t* texels, const uint32_t dims[3]);

// Which lookup texels can be seen: openBefore[i] counts the texels below i
// whose opacity is above 0 (texelCount + 1 entries).
struct LookupOpacity {
    std::vector<uint32_t> openBefore;
};
LookupOpacity MeasureLookup(const float* rgbaTexels, uint32_t texelCount);

// Whether a density anywhere in [low, high] (16-bit texel values, filtered
// through the lookup texture's linear filter) can have an opacity above 0.
bool CanBeSeen(const LookupOpacity& lookup, uint16_t low, uint16_t high);

// The box in texture coordinates (0..1 per axis) outside which every sample
// is clear; empty when nothing can be seen.
struct TextureBox {
    float low[3] = {0, 0, 0}, high[3] = {1, 1, 1};
    bool empty = false;
};
TextureBox VisibleTextureBox(const VolumeBricks& bricks, const LookupOpacity& lookup);
// The smallest box holding both: with several channels a sample can be seen
// wherever any channel's can.
TextureBox UnionOfBoxes(const TextureBox& a, const TextureBox& b);
// The part of `visible` inside a crop of the box (per axis the fractions
// low..high kept): nothing outside the crop is drawn, so nothing there can be
// seen either. Empty when they do not meet.
TextureBox CroppedTextureBox(const TextureBox& visible, const float low[3], const float high[3]);

// What the slice pass needs to draw: the slices whose view depth lies in
// [nearDepth, farDepth], and the pixels of the scissor rectangle (within a
// viewport of `width` x `height` from the top left).
struct VisibleWindow {
    bool empty = false;
    float nearDepth = 0, farDepth = 0;
    bool scissor = false;  // false: the whole viewport (the box reaches behind the eye)
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
// `box` of the volume with half extents `half`, seen through `view` and
// `projection` (row vectors, as the shaders multiply).
VisibleWindow WindowOfBox(const TextureBox& box, const float half[3], const d3dx::Matrix& view,
                          const d3dx::Matrix& projection, float width, float height);
