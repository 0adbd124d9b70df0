#include "render/volume_part.h"

#include <algorithm>

DrawnBox PartOfBox(const d3dx::Matrix& view, const float half[3], const TextureBox& crop, const float low[3],
                   const float high[3]) {
    DrawnBox drawn;
    drawn.view = view;
    drawn.crop.empty = crop.empty;
    for (int j = 0; j < 3; ++j) {
        const float width = high[j] - low[j];
        drawn.half[j] = half[j] * width;
        // The part's centre in the whole box's frame: a row vector p of the
        // part's box is p + centre there, so the view's translation gains
        // centre times its rotation.
        const float centre = half[j] * (low[j] + high[j] - 1.0f);
        for (int k = 0; k < 3; ++k)
            drawn.view.m[3][k] += centre * view.m[j][k];
        const auto inPart = [&](float u) {
            return width > 0 ? std::clamp((u - low[j]) / width, 0.0f, 1.0f) : 0.0f;
        };
        drawn.crop.low[j] = inPart(crop.low[j]);
        drawn.crop.high[j] = inPart(crop.high[j]);
        if (!(crop.low[j] <= high[j] && crop.high[j] >= low[j]) || !(width > 0))
            drawn.crop.empty = true;
    }
    return drawn;
}
