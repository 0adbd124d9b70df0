#include "render/empty_space.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kBrick = VolumeBricks::kBrickSize;

// The samples a brick's trilinear samples can mix along one axis, with one
// more either side: [bB - 1, (b + 1)B + 1], within the grid.
uint32_t ReachLow(uint32_t brick) {
    return brick * kBrick > 0 ? brick * kBrick - 1 : 0;
}
uint32_t ReachHigh(uint32_t brick, uint32_t dim) {
    return std::min(dim - 1, (brick + 1) * kBrick + 1);
}

}  // namespace

VolumeBricks MeasureBricks(const uint16_t* texels, const uint32_t dims[3]) {
    VolumeBricks out;
    if (texels == nullptr || dims[0] == 0 || dims[1] == 0 || dims[2] == 0)
        return out;
    for (int a = 0; a < 3; ++a) {
        out.dims[a] = dims[a];
        out.bricks[a] = (dims[a] + kBrick - 1) / kBrick;
    }
    const uint32_t nx = out.bricks[0], ny = out.bricks[1], nz = out.bricks[2];
    out.low.assign(size_t{nx} * ny * nz, UINT16_MAX);
    out.high.assign(size_t{nx} * ny * nz, 0);
    // Per row of bricks, the range of each column of samples across the
    // rows and planes the bricks reach, in whole rows (a loop the compiler
    // vectorises); then each brick's reach along that range.
    std::vector<uint16_t> columnLow(dims[0]), columnHigh(dims[0]);
    for (uint32_t bz = 0; bz < nz; ++bz)
        for (uint32_t by = 0; by < ny; ++by) {
            std::fill(columnLow.begin(), columnLow.end(), UINT16_MAX);
            std::fill(columnHigh.begin(), columnHigh.end(), 0);
            uint16_t* __restrict low = columnLow.data();
            uint16_t* __restrict high = columnHigh.data();
            for (uint32_t z = ReachLow(bz), endZ = ReachHigh(bz, dims[2]); z <= endZ; ++z)
                for (uint32_t y = ReachLow(by), endY = ReachHigh(by, dims[1]); y <= endY; ++y) {
                    const uint16_t* __restrict row = texels + (size_t{z} * dims[1] + y) * dims[0];
                    for (uint32_t x = 0; x < dims[0]; ++x) {
                        low[x] = std::min(low[x], row[x]);
                        high[x] = std::max(high[x], row[x]);
                    }
                }
            const size_t base = (size_t{bz} * ny + by) * nx;
            for (uint32_t bx = 0; bx < nx; ++bx) {
                uint16_t lo = UINT16_MAX, hi = 0;
                for (uint32_t x = ReachLow(bx), end = ReachHigh(bx, dims[0]); x <= end; ++x) {
                    lo = std::min(lo, low[x]);
                    hi = std::max(hi, high[x]);
                }
                out.low[base + bx] = lo;
                out.high[base + bx] = hi;
            }
        }
    return out;
}

LookupOpacity MeasureLookup(const float* rgbaTexels, uint32_t texelCount) {
    LookupOpacity out;
    out.openBefore.resize(size_t{texelCount} + 1, 0);
    for (uint32_t i = 0; i < texelCount; ++i) {
        // The shader discards saturate(alpha) <= 0; anything else (NaN too) may show.
        const float alpha = rgbaTexels[size_t{i} * 4 + 3];
        out.openBefore[i + 1] = out.openBefore[i] + (alpha <= 0.0f ? 0u : 1u);
    }
    return out;
}

bool CanBeSeen(const LookupOpacity& lookup, uint16_t low, uint16_t high) {
    const int64_t count = static_cast<int64_t>(lookup.openBefore.size()) - 1;
    if (count <= 0)
        return true;
    // A density d reads texels floor(d N - 1/2) and the next, clamped at the
    // ends (a density of 0 reads texel 0 alone). A hundredth of a texel either
    // way covers the sampler's rounding of the position.
    const auto position = [&](uint16_t value) { return static_cast<double>(value) / 65535.0 * count - 0.5; };
    const int64_t first =
        std::clamp<int64_t>(static_cast<int64_t>(std::floor(position(low) - 0.01)), 0, count - 1);
    const int64_t last =
        std::clamp<int64_t>(static_cast<int64_t>(std::floor(position(high) + 0.01)) + 1, 0, count - 1);
    return lookup.openBefore[last + 1] > lookup.openBefore[first];
}

TextureBox VisibleTextureBox(const VolumeBricks& bricks, const LookupOpacity& lookup) {
    TextureBox box;
    if (bricks.low.empty() || lookup.openBefore.size() < 2)
        return box;  // nothing measured: all of it
    uint32_t lowBrick[3] = {UINT32_MAX, UINT32_MAX, UINT32_MAX}, highBrick[3] = {0, 0, 0};
    bool any = false;
    size_t i = 0;
    for (uint32_t bz = 0; bz < bricks.bricks[2]; ++bz)
        for (uint32_t by = 0; by < bricks.bricks[1]; ++by)
            for (uint32_t bx = 0; bx < bricks.bricks[0]; ++bx, ++i) {
                if (!CanBeSeen(lookup, bricks.low[i], bricks.high[i]))
                    continue;
                any = true;
                const uint32_t b[3] = {bx, by, bz};
                for (int a = 0; a < 3; ++a) {
                    lowBrick[a] = std::min(lowBrick[a], b[a]);
                    highBrick[a] = std::max(highBrick[a], b[a]);
                }
            }
    if (!any) {
        box.empty = true;
        return box;
    }
    // Brick b holds the sampling positions p = t dim - 1/2 in [bB, (b + 1)B);
    // one sample more either side against rounding.
    for (int a = 0; a < 3; ++a) {
        const double dim = bricks.dims[a];
        const uint64_t begin = uint64_t{lowBrick[a]} * kBrick, end = uint64_t{highBrick[a] + 1} * kBrick;
        box.low[a] = begin == 0 ? 0.0f : static_cast<float>(std::max(0.0, (begin - 0.5) / dim));
        box.high[a] = end >= dim ? 1.0f : static_cast<float>(std::min(1.0, (end + 1.5) / dim));
    }
    return box;
}

VisibleWindow WindowOfBox(const TextureBox& box, const float half[3], const d3dx::Matrix& view,
                          const d3dx::Matrix& projection, float width, float height) {
    VisibleWindow window;
    if (box.empty) {
        window.empty = true;
        return window;
    }
    float nearDepth = INFINITY, farDepth = -INFINITY;
    float left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    bool inFront = true;
    for (int c = 0; c < 8; ++c) {
        const float t[3] = {(c & 4) ? box.high[0] : box.low[0], (c & 2) ? box.high[1] : box.low[1],
                            (c & 1) ? box.high[2] : box.low[2]};
        const d3dx::Vector3 object{(2 * t[0] - 1) * half[0], (2 * t[1] - 1) * half[1],
                                   (2 * t[2] - 1) * half[2]};
        d3dx::Vector4 seen;
        d3dx::Vec3Transform(&seen, &object, &view);
        nearDepth = std::min(nearDepth, seen.z);
        farDepth = std::max(farDepth, seen.z);
        const d3dx::Vector3 eye{seen.x, seen.y, seen.z};
        d3dx::Vector4 clip;
        d3dx::Vec3Transform(&clip, &eye, &projection);
        if (!(clip.w > 1e-6f)) {
            inFront = false;
            continue;
        }
        const float x = (clip.x / clip.w * 0.5f + 0.5f) * width;
        const float y = (0.5f - clip.y / clip.w * 0.5f) * height;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    // Slices lie at the depths the cutting computed; a margin keeps a slice
    // through the box's face in.
    const float margin =
        1e-3f * (farDepth - nearDepth) + 1e-5f * std::max(std::fabs(nearDepth), std::fabs(farDepth));
    window.nearDepth = nearDepth - margin;
    window.farDepth = farDepth + margin;
    if (!inFront || !std::isfinite(left + right + top + bottom))
        return window;
    // Whole pixels around the corners' projections, one more each side.
    const float maxX = std::ceil(width), maxY = std::ceil(height);
    const float l = std::clamp(std::floor(left) - 1.0f, 0.0f, maxX),
                r = std::clamp(std::ceil(right) + 1.0f, 0.0f, maxX);
    const float tp = std::clamp(std::floor(top) - 1.0f, 0.0f, maxY),
                b = std::clamp(std::ceil(bottom) + 1.0f, 0.0f, maxY);
    window.scissor = true;
    window.left = static_cast<int32_t>(l);
    window.right = static_cast<int32_t>(r);
    window.top = static_cast<int32_t>(tp);
    window.bottom = static_cast<int32_t>(b);
    window.empty = window.right <= window.left || window.bottom <= window.top;
    return window;
}

TextureBox CroppedTextureBox(const TextureBox& visible, const float low[3], const float high[3]) {
    TextureBox kept = visible;
    for (int axis = 0; axis < 3; ++axis) {
        kept.low[axis] = std::max(visible.low[axis], low[axis]);
        kept.high[axis] = std::min(visible.high[axis], high[axis]);
        if (!(kept.low[axis] < kept.high[axis]))
            kept.empty = true;
    }
    return kept;
}

TextureBox UnionOfBoxes(const TextureBox& a, const TextureBox& b) {
    if (a.empty)
        return b;
    if (b.empty)
        return a;
    TextureBox both;
    for (int axis = 0; axis < 3; ++axis) {
        both.low[axis] = std::min(a.low[axis], b.low[axis]);
        both.high[axis] = std::max(a.high[axis], b.high[axis]);
    }
    return both;
}
