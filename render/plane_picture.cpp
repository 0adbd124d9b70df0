#include "render/plane_picture.h"

#include <algorithm>
#include <cmath>

#include "render/slice_planes.h"

PlaneAxes PlanePictureAxes(int axis) {
    switch (axis) {
        case 0:
            return {2, 1, true};
        case 1:
            return {0, 2, false};
        default:
            return {0, 1, true};
    }
}

void FitPlanePicture(int axis, const uint32_t dims[3], const float spacing[3], float regionWidth,
                     float regionHeight, float* width, float* height) {
    *width = *height = 0.0f;
    const PlaneAxes a = PlanePictureAxes(axis);
    const float across = static_cast<float>(dims[a.across]) * std::max(spacing[a.across], 1e-6f);
    const float down = static_cast<float>(dims[a.down]) * std::max(spacing[a.down], 1e-6f);
    if (!(across > 0.0f && down > 0.0f && regionWidth > 0.0f && regionHeight > 0.0f))
        return;
    const float scale = std::min(regionWidth / across, regionHeight / down);
    *width = std::max(1.0f, std::floor(across * scale));
    *height = std::max(1.0f, std::floor(down * scale));
}

namespace {

// A pixel column's (or row's) two texels along one axis and the second's
// weight: the texture filter's, with the texels clamped at the edges.
struct Tap {
    uint32_t first, second;
    float weight;
};

std::vector<Tap> Taps(uint32_t pixels, uint32_t dim, bool reversed) {
    std::vector<Tap> taps(pixels);
    const float last = static_cast<float>(dim - 1);
    for (uint32_t p = 0; p < pixels; ++p) {
        float u = (static_cast<float>(p) + 0.5f) / static_cast<float>(pixels);
        if (reversed)
            u = 1.0f - u;
        const float t = std::clamp(u * static_cast<float>(dim) - 0.5f, 0.0f, last);
        const float base = std::floor(t);
        const uint32_t first = static_cast<uint32_t>(base);
        taps[p] = {first, std::min(first + 1, dim - 1), t - base};
    }
    return taps;
}

}  // namespace

void FillPlanePicture(const PlaneSamples& samples, int axis, int32_t index, float low, float high,
                      uint32_t width, uint32_t height, std::vector<uint8_t>* grey) {
    grey->assign(size_t{width} * height, 0);
    if (axis < 0 || axis > 2 || samples.texels == nullptr || width == 0 || height == 0 || index < 0 ||
        static_cast<uint32_t>(index) >= samples.dims[axis] || samples.dims[0] == 0 || samples.dims[1] == 0 ||
        samples.dims[2] == 0)
        return;
    const PlaneAxes a = PlanePictureAxes(axis);
    const std::vector<Tap> columns = Taps(width, samples.dims[a.across], false);
    const std::vector<Tap> rows = Taps(height, samples.dims[a.down], a.upward);
    // The layer's 12-bit values first, in the picture's order: a plane across
    // the grid's slower axes has its samples far apart in memory, and each is
    // then read once rather than by every pixel it lies under.
    const uint64_t stride[3] = {samples.components, uint64_t{samples.components} * samples.dims[0],
                                uint64_t{samples.components} * samples.dims[0] * samples.dims[1]};
    const uint32_t across = samples.dims[a.across], down = samples.dims[a.down];
    std::vector<float> plane(size_t{across} * down);
    const uint16_t* layer = samples.texels + samples.component + stride[axis] * static_cast<uint64_t>(index);
    for (uint32_t d = 0; d < down; ++d)
        for (uint32_t i = 0; i < across; ++i)
            plane[size_t{d} * across + i] =
                static_cast<float>(layer[stride[a.down] * d + stride[a.across] * i] >> 4);
    for (uint32_t r = 0; r < height; ++r) {
        const Tap& row = rows[r];
        const float* top = plane.data() + size_t{row.first} * across;
        const float* bottom = plane.data() + size_t{row.second} * across;
        uint8_t* out = grey->data() + size_t{r} * width;
        for (uint32_t c = 0; c < width; ++c) {
            const Tap& column = columns[c];
            const float upper = top[column.first] + column.weight * (top[column.second] - top[column.first]);
            const float lower =
                bottom[column.first] + column.weight * (bottom[column.second] - bottom[column.first]);
            const float value = upper + row.weight * (lower - upper);
            out[c] = static_cast<uint8_t>(std::lround(PlaneGrey(value, low, high) * 255.0f));
        }
    }
}

void GreyToRgba(const std::vector<uint8_t>& grey, std::vector<uint8_t>* rgba) {
    rgba->resize(grey.size() * 4);
    uint8_t* texel = rgba->data();
    for (const uint8_t g : grey) {
        texel[0] = texel[1] = texel[2] = g;
        texel[3] = 255;
        texel += 4;
    }
}

void ChannelGreysToRgba(const std::vector<std::vector<uint8_t>>& greys, const float (*colours)[3],
                        std::vector<uint8_t>* rgba) {
    const size_t pixels = greys.empty() ? 0 : greys.front().size();
    rgba->assign(pixels * 4, 255);
    for (size_t i = 0; i < pixels; ++i)
        for (int k = 0; k < 3; ++k) {
            float sum = 0.0f;
            for (size_t c = 0; c < greys.size(); ++c)
                sum += static_cast<float>(greys[c][i]) * colours[c][k];
            (*rgba)[i * 4 + k] = static_cast<uint8_t>(std::min(sum, 255.0f) + 0.5f);
        }
}

void PlanePictureVoxel(int axis, int32_t index, const uint32_t dims[3], float fx, float fy,
                       uint32_t voxel[3]) {
    const PlaneAxes a = PlanePictureAxes(axis);
    const auto layerAt = [](float fraction, uint32_t dim) {
        if (dim == 0)
            return 0u;
        const float t = std::floor(std::clamp(fraction, 0.0f, 1.0f) * static_cast<float>(dim));
        return std::min(static_cast<uint32_t>(std::max(t, 0.0f)), dim - 1);
    };
    voxel[axis] = dims[axis] == 0 ? 0u : std::min(static_cast<uint32_t>(std::max(index, 0)), dims[axis] - 1);
    voxel[a.across] = layerAt(fx, dims[a.across]);
    voxel[a.down] = layerAt(a.upward ? 1.0f - fy : fy, dims[a.down]);
}

float PlanePictureLine(int axis, int other, int32_t layer, const uint32_t dims[3]) {
    const PlaneAxes a = PlanePictureAxes(axis);
    const float at = PlaneTexturePosition(layer, std::max(dims[other], 1u));
    return other == a.down && a.upward ? 1.0f - at : at;
}
