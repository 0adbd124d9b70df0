// A volume whose textures cover only part of its box (a store read in part,
// at a finer level than the whole would allow): the volume is drawn in the
// part's own box, placed where the part lies in the whole, so that every
// pass, plane and ray works on the part exactly as on a whole volume, while
// the camera, the crop and the box the user sees stay the whole one's.
// Plain computation.
#pragma once

#include "platform/d3dx/d3dx_math.h"
#include "render/empty_space.h"

struct DrawnBox {
    d3dx::Matrix view{};  // the part's box (centred at its origin) to view space
    float half[3] = {0, 0, 0};
    TextureBox crop;  // the crop in the part's fractions
};

// The part [low, high] (fractions of the whole box per axis) of the box of
// half extents `half` seen through `view`, cropped to `crop` (fractions of
// the whole). The part's fractions of a point are (u - low) / (high - low)
// of its whole fractions u; a crop reaching past the part is cut to it.
DrawnBox PartOfBox(const d3dx::Matrix& view, const float half[3], const TextureBox& crop, const float low[3],
                   const float high[3]);
