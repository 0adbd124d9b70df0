// Sections: the lookup by 12-bit value; the rays of a pixel packet and their
// planes; the samples (trilinear, gradient); the packet's march; the tiles
// over threads.
#include "render/software_volume_pass.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string_view>
#include <thread>
#include <vector>

#include "render/slice_planes.h"
#include "render/software_volume_kernel.h"

namespace {

using software_volume::KernelPass;
using software_volume::PacketRays;
using software_volume::PacketResult;

// A packet is 4 pixels wide and as tall as its lanes make it.
constexpr int kPacketWidth = 4, kLanes = software_volume::kMostLanes;
constexpr int kTileSide = 32;
constexpr uint32_t kValues = 4096;  // one entry per 12-bit value
constexpr uint32_t kMaxChannels = 4;
// Where the channels' extremes lie in the layer: a step off its starting
// value, so that a pixel no sample covered keeps that value (fx.fx).
constexpr float kExtremeStep = 1.0f / 65535.0f;

uint16_t Unorm16(float v) {
    return static_cast<uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

// ---------------------------------------------------------------------------
// The lookup by 12-bit value, with the frame's opacity correction folded in:
// entry v is what the slices' shader makes of a density of exactly v (the
// 1024-texel filtered lookup, then 1 - (1 - alpha)^layers). A sample between
// two values takes the line between their entries: two neighbouring reads
// where the shader pays a filtered fetch and a pow. Colour unpremultiplied
// (shading changes it per sample), the corrected opacity in alpha.
struct ValueLookup {
    std::vector<float> rgba;  // kValues + 1 entries, the last repeating the one before
};

// The entries e from which a sample can be seen (it blends e and e + 1):
// [first, last], first > last where none can.
void SeenEntries(const float* rgba, int32_t* first, int32_t* last) {
    *first = INT32_MAX;
    *last = -1;
    for (int32_t e = 0; e <= static_cast<int32_t>(kValues); ++e)
        if (rgba[size_t(e) * 4 + 3] > 0.0f) {
            *first = std::min(*first, std::max(e - 1, 0));
            *last = e;
        }
}

ValueLookup MakeValueLookup(const float* texels, uint32_t count, float layers) {
    ValueLookup out;
    out.rgba.assign(size_t{kValues + 1} * 4, 0.0f);
    if (texels == nullptr || count == 0)
        return out;
    for (uint32_t v = 0; v < kValues; ++v) {
        // The 16-bit texel's density, in float as the sampler has it.
        const float density = static_cast<float>(v << 4) / 65535.0f;
        const float position = density * static_cast<float>(count) - 0.5f;
        const float below = std::floor(position), f = position - below;
        const int64_t last = count - 1;
        const int64_t i0 = std::clamp<int64_t>(static_cast<int64_t>(below), 0, last);
        const int64_t i1 = std::clamp<int64_t>(static_cast<int64_t>(below) + 1, 0, last);
        float* e = &out.rgba[size_t{v} * 4];
        for (int c = 0; c < 4; ++c)
            e[c] = texels[i0 * 4 + c] + f * (texels[i1 * 4 + c] - texels[i0 * 4 + c]);
        for (int c = 0; c < 3; ++c)
            e[c] = std::clamp(e[c], 0.0f, 1.0f);
        const float alpha = std::clamp(e[3], 0.0f, 1.0f);
        // NaN and 0 are both clear: the shader discards what saturate makes 0.
        e[3] = alpha > 0.0f ? 1.0f - std::pow(1.0f - alpha, layers) : 0.0f;
    }
    std::copy_n(&out.rgba[size_t{kValues - 1} * 4], 4, &out.rgba[size_t{kValues} * 4]);
    return out;
}

// ---------------------------------------------------------------------------
// A pixel's ray meets the plane of view depth z at the texture position
// u0 + z du (0..1 over the box per axis), and there the slice's texture
// coordinate is exactly that: the slice's perspective-correct interpolation
// of a linear function of the point.
struct Ray {
    float u0[3], du[3];
    float e[3];  // towards the eye, unit, in object space (the headlight's direction)
};

// Plane indices (farthest first) whose depth lies in [nearZ, farZ]: [first, last].
void PlanesBetween(const SoftwareFrame& frame, float nearZ, float farZ, int64_t* first, int64_t* last) {
    const float* d = frame.sliceDepth;
    const int32_t n = static_cast<int32_t>(std::min<size_t>(frame.sliceCount, INT32_MAX));
    // Descending depths: the first at most farZ, the last at least nearZ.
    *first = software_volume::PlanesAtLeast(d, n, std::nextafter(farZ, INFINITY));
    *last = software_volume::PlanesAtLeast(d, n, nearZ) - 1;
}

// ---------------------------------------------------------------------------
// Samples, as the texture units filter them: clamped to the edge texels,
// weights from the position less half a texel.
struct Grid {
    const uint16_t* texels;
    int32_t dims[3];
    size_t rowStride, planeStride;
    int32_t xStride;            // the texel's components: one channel of several is read every xStride-th
    const uint8_t* clearBrick;  // per brick: every sample in it is clear; null: none known
    uint32_t bricks[2];
};

struct Corner {
    int32_t i;
    int32_t step;  // 1 to the next texel along the axis, 0 at the last
    float f;
};

Corner Axis(float u, int32_t dim) {
    const float p = std::clamp(u * static_cast<float>(dim) - 0.5f, 0.0f, static_cast<float>(dim - 1));
    const int32_t i = static_cast<int32_t>(p);
    return {i, i + 1 < dim ? 1 : 0, p - static_cast<float>(i)};
}

// The filtered 16-bit value at texture position u; false where the brick it
// lies in is clear (the value then does not matter).
bool Trilinear(const Grid& g, const float u[3], float* value, int32_t clearBrick[3]) {
    const Corner x = Axis(u[0], g.dims[0]), y = Axis(u[1], g.dims[1]), z = Axis(u[2], g.dims[2]);
    clearBrick[0] = x.i >> 4;
    clearBrick[1] = y.i >> 4;
    clearBrick[2] = z.i >> 4;
    if (g.clearBrick != nullptr) {
        const uint32_t brick =
            ((static_cast<uint32_t>(z.i) >> 4) * g.bricks[1] + (static_cast<uint32_t>(y.i) >> 4)) *
                g.bricks[0] +
            (static_cast<uint32_t>(x.i) >> 4);
        if (g.clearBrick[brick])
            return false;
    }
    const uint16_t* p =
        g.texels + static_cast<size_t>(x.i) * g.xStride + y.i * g.rowStride + z.i * g.planeStride;
    const size_t dy = y.step * g.rowStride, dz = z.step * g.planeStride;
    const int32_t dx = x.step * g.xStride;
    const auto line = [&](const uint16_t* q) {
        return static_cast<float>(q[0]) + x.f * (static_cast<float>(q[dx]) - static_cast<float>(q[0]));
    };
    const float c00 = line(p), c10 = line(p + dy), c01 = line(p + dz), c11 = line(p + dy + dz);
    const float c0 = c00 + y.f * (c10 - c00), c1 = c01 + y.f * (c11 - c01);
    *value = c0 + z.f * (c1 - c0);
    return true;
}

float BrickExit(const Ray& ray, const int32_t brick[3], const int32_t dims[3], float z) {
    return software_volume::BrickExitDepth(ray.u0, ray.du, brick, dims, z);
}

// The gradient texture as the shader reads it: filtered within the z plane
// nearest the sample, the shading vector decoded.
struct GradientGrid {
    const uint8_t* texels;
    int32_t dims[3];
    int32_t slices;  // the texture's array size (at least 2)
};

void ShadingVector(const GradientGrid& g, const float u[3], float n[3]) {
    const Corner x = Axis(u[0], g.dims[0]), y = Axis(u[1], g.dims[1]);
    const int32_t layer =
        std::clamp(static_cast<int32_t>(std::floor(u[2] * static_cast<float>(g.slices) - 0.5f + 0.5f)), 0,
                   g.dims[2] - 1);
    const uint8_t* p = g.texels + (static_cast<size_t>(layer) * g.dims[1] * g.dims[0] +
                                   static_cast<size_t>(y.i) * g.dims[0] + x.i) *
                                      kGradientTexelBytes;
    const size_t dx = x.step * kGradientTexelBytes, dy = size_t(y.step) * g.dims[0] * kGradientTexelBytes;
    for (int c = 0; c < 3; ++c) {
        const float a = p[c] + x.f * (float(p[dx + c]) - p[c]);
        const float b = p[dy + c] + x.f * (float(p[dy + dx + c]) - p[dy + c]);
        n[c] = (a + y.f * (b - a) - 128.0f) / 127.0f;
    }
}

// ---------------------------------------------------------------------------
// The packet's march: its rays together through the planes, nearest first.
struct Pass {
    const SoftwareFrame* frame;
    Grid grid;
    GradientGrid gradient;
    bool shaded;
    float half[3];
    const float* lookup;  // ValueLookup's entries
    float visibleLow[3], visibleHigh[3];
    // The pixels the part of the box drawn covers, a pixel to spare:
    // [x0, x1) x [y0, y1); packets wholly outside are background only.
    float shownX0, shownY0, shownX1, shownY1;
    float nearPlane, farPlane;
    uint16_t* out;
    uint32_t rowPixels;
    // Several channels: each one's lookup (uncorrected: the correction is
    // the mix's) and gradient, and the layers a plane stands for.
    uint32_t channels;
    const float* channelLookup[kMaxChannels];
    GradientGrid channelGradient[kMaxChannels];
    float layers;
    // The vectorised march where it serves (one channel), its lanes a packet.
    void (*kernel)(const KernelPass&, const PacketRays&, PacketResult*);
    KernelPass kernelPass;
    int lanes;
};

// Left uninitialised when made (a packet's worth is made per packet): the
// setup sets the planes, Clear the sums.
struct Lane {
    Ray ray;
    bool on;
    int64_t first, last;  // planes it can meet
    float c[3], a, t;
    float extreme;
    float extremes[kMaxChannels];
    bool covered;
    float skipUntil;       // inside a clear brick until this depth
    bool onPlane;          // the ray meets a plane: its colour lies behind the composite
    float planeColour[3];  // grey, or the channels' greys in their colours

    void Clear() {
        c[0] = c[1] = c[2] = a = extreme = 0.0f;
        t = 1.0f;
        extremes[0] = extremes[1] = extremes[2] = extremes[3] = 0.0f;
        covered = false;
        skipUntil = -INFINITY;
    }
};

bool InCrop(const SoftwareFrame& f, const float u[3]) {
    return u[0] >= f.cropLow[0] && u[0] <= f.cropHigh[0] && u[1] >= f.cropLow[1] && u[1] <= f.cropHigh[1] &&
           u[2] >= f.cropLow[2] && u[2] <= f.cropHigh[2];
}

// The lookup at a sample's value (value / 16: the 12-bit value, between
// entries i and i + 1), interpolated; its alpha, 0 for a clear sample.
float LookUpIn(const float* lookup, float value, float rgb[3]) {
    const float v = value * (1.0f / 16.0f);
    const int32_t i = std::min(static_cast<int32_t>(v), static_cast<int32_t>(kValues - 1));
    const float f = v - static_cast<float>(i);
    const float* e0 = lookup + i * 4;
    const float* e1 = e0 + 4;
    const float alpha = e0[3] + f * (e1[3] - e0[3]);
    if (!(alpha > 0.0f))
        return 0.0f;
    for (int c = 0; c < 3; ++c)
        rgb[c] = e0[c] + f * (e1[c] - e0[c]);
    return alpha;
}

float LookUp(const Pass& pass, float value, float rgb[3]) {
    return LookUpIn(pass.lookup, value, rgb);
}

void Composite(const Pass& pass, Lane& lane, float value) {
    float rgb[3];
    const float alpha = LookUp(pass, value, rgb);
    if (!(alpha > 0.0f))
        return;
    lane.a += lane.t * alpha * alpha;  // the blend's alpha: source alpha times itself
    const float w = lane.t * alpha;
    for (int c = 0; c < 3; ++c)
        lane.c[c] += w * rgb[c];
    lane.t *= 1.0f - alpha;
}

void ShadedComposite(const Pass& pass, Lane& lane, float value, const float u[3]) {
    float rgb[3];
    const float alpha = LookUp(pass, value, rgb);
    if (!(alpha > 0.0f))
        return;
    float n[3];
    ShadingVector(pass.gradient, u, n);
    const float fade = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const float facing = std::fabs(n[0] * lane.ray.e[0] + n[1] * lane.ray.e[1] + n[2] * lane.ray.e[2]);
    float f4 = facing * facing;
    f4 *= f4;
    float f16 = f4 * f4;
    f16 *= f16;
    const float gain = 1.0f - 0.7f * fade + 0.7f * facing, specular = 0.3f * (f16 * f4);
    lane.a += lane.t * alpha * alpha;
    const float w = lane.t * alpha;
    for (int c = 0; c < 3; ++c)
        lane.c[c] += w * std::clamp(rgb[c] * gain + specular, 0.0f, 1.0f);
    lane.t *= 1.0f - alpha;
}

// The channels' mix at a sample, as the channels' shaders make it: each
// channel through its own lookup (lit by its own gradient when shaded), the
// opacity of their layers one behind another, the colour weighted by each
// one's opacity; then the plane's opacity correction and the blend.
void ChannelsComposite(const Pass& pass, Lane& lane, const float values[], const float u[3]) {
    float weighted[3] = {0, 0, 0}, sum = 0, clearance = 1;
    for (uint32_t c = 0; c < pass.channels; ++c) {
        float rgb[3];
        const float a = LookUpIn(pass.channelLookup[c], values[c], rgb);
        if (!(a > 0.0f))
            continue;
        if (pass.shaded) {
            float n[3];
            ShadingVector(pass.channelGradient[c], u, n);
            const float fade = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            const float facing =
                std::fabs(n[0] * lane.ray.e[0] + n[1] * lane.ray.e[1] + n[2] * lane.ray.e[2]);
            float f4 = facing * facing;
            f4 *= f4;
            float f16 = f4 * f4;
            f16 *= f16;
            const float gain = 1.0f - 0.7f * fade + 0.7f * facing, specular = 0.3f * (f16 * f4);
            for (int k = 0; k < 3; ++k)
                rgb[k] = std::clamp(rgb[k] * gain + specular, 0.0f, 1.0f);
        }
        for (int k = 0; k < 3; ++k)
            weighted[k] += a * rgb[k];
        sum += a;
        clearance *= 1.0f - a;
    }
    if (!(1.0f - clearance > 0.0f) || !(sum > 0.0f))
        return;
    const float alpha = 1.0f - std::pow(clearance, pass.layers);
    lane.a += lane.t * alpha * alpha;
    const float w = lane.t * alpha / sum;
    for (int k = 0; k < 3; ++k)
        lane.c[k] += w * weighted[k];
    lane.t *= 1.0f - alpha;
}

// The packet's rays (lane by lane, in loops the compiler
// vectorises) and the depths where each is in [low, high] and between the
// projection's near and far planes (which the rasteriser clips to): empty
// where nearZ > farZ, or either is NaN.
void SetUpRays(const Pass& pass, const float low[3], const float high[3], uint32_t x0, uint32_t y0,
               Lane lanes[], float nearZ[], float farZ[]) {
    const SoftwareFrame& f = *pass.frame;
    const d3dx::Matrix& v = f.view;
    const d3dx::Matrix& p = f.projection;
    float dirX[kLanes], dirY[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        const float px = static_cast<float>(x0 + l % kPacketWidth) + 0.5f;
        const float py = static_cast<float>(y0 + l / kPacketWidth) + 0.5f;
        dirX[l] = (px / static_cast<float>(f.width) * 2.0f - 1.0f) / p.m[0][0];
        dirY[l] = (1.0f - py / static_cast<float>(f.height) * 2.0f) / p.m[1][1];
    }
    float du[3][kLanes], toward[3][kLanes], u0[3];
    for (int j = 0; j < 3; ++j) {
        // Object = (view point - translation) times the rotation's transpose.
        const float origin = -(v.m[3][0] * v.m[j][0] + v.m[3][1] * v.m[j][1] + v.m[3][2] * v.m[j][2]);
        const float width = 2.0f * pass.half[j];
        u0[j] = (origin + pass.half[j]) / width;
        for (int l = 0; l < kLanes; ++l) {
            const float slope = dirX[l] * v.m[j][0] + dirY[l] * v.m[j][1] + v.m[j][2];
            du[j][l] = slope / width;
            toward[j][l] = -slope;
        }
    }
    float inverseLength[kLanes], zn[kLanes], zf[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        inverseLength[l] = 1.0f / std::sqrt(toward[0][l] * toward[0][l] + toward[1][l] * toward[1][l] +
                                            toward[2][l] * toward[2][l]);
        zn[l] = pass.nearPlane;
        zf[l] = pass.farPlane;
    }
    for (int j = 0; j < 3; ++j) {
        // A ray parallel to the faces lies between them everywhere or nowhere.
        const bool inside = u0[j] >= low[j] && u0[j] <= high[j];
        for (int l = 0; l < kLanes; ++l) {
            const float across = 1.0f / du[j][l];
            const float a = (low[j] - u0[j]) * across, b = (high[j] - u0[j]) * across;
            const bool parallel = du[j][l] == 0.0f;
            zn[l] = parallel ? (inside ? zn[l] : INFINITY) : std::max(zn[l], std::min(a, b));
            zf[l] = parallel ? zf[l] : std::min(zf[l], std::max(a, b));
        }
    }
    for (int l = 0; l < kLanes; ++l) {
        Ray& ray = lanes[l].ray;
        for (int j = 0; j < 3; ++j) {
            ray.u0[j] = u0[j];
            ray.du[j] = du[j][l];
            ray.e[j] = toward[j][l] * inverseLength[l];
        }
        nearZ[l] = zn[l];
        farZ[l] = zf[l];
    }
}

// The nearest plane the lane's ray meets inside the crop and between the
// projection's planes: its depth (INFINITY for none) and grey.
float NearestPlane(const Pass& pass, const Lane& lane, float colour[3]) {
    const SoftwareFrame& f = *pass.frame;
    float nearest = INFINITY;
    int axis = -1;
    for (int j = 0; j < 3; ++j) {
        if (!f.planeShown[j] || lane.ray.du[j] == 0.0f)
            continue;
        const float z = (f.planeAt[j] - lane.ray.u0[j]) / lane.ray.du[j];
        if (!(z >= pass.nearPlane && z <= pass.farPlane && z < nearest))
            continue;
        float u[3];
        for (int k = 0; k < 3; ++k)
            u[k] = k == j ? f.planeAt[j] : lane.ray.u0[k] + z * lane.ray.du[k];
        if (!InCrop(f, u))
            continue;
        nearest = z;
        axis = j;
    }
    if (axis >= 0) {
        float u[3];
        for (int k = 0; k < 3; ++k)
            u[k] = k == axis ? f.planeAt[axis] : lane.ray.u0[k] + nearest * lane.ray.du[k];
        // At the layer's centre the filter's weight along the axis is 0:
        // the layer's samples, bilinear within it.
        Grid layer = pass.grid;
        layer.clearBrick = nullptr;
        int32_t brick[3];
        if (pass.channels == 1) {
            float value = 0.0f;
            Trilinear(layer, u, &value, brick);
            colour[0] = colour[1] = colour[2] = PlaneGrey(value / 16.0f, f.greyLow, f.greyHigh);
        } else {
            colour[0] = colour[1] = colour[2] = 0.0f;
            for (uint32_t c = 0; c < pass.channels; ++c) {
                float value = 0.0f;
                Trilinear(layer, u, &value, brick);
                const float grey = PlaneGrey(value / 16.0f, f.greyLow, f.greyHigh);
                for (int k = 0; k < 3; ++k)
                    colour[k] += grey * f.planeChannelColour[c][k];
                ++layer.texels;  // the next channel of the texel
            }
            for (int k = 0; k < 3; ++k)
                colour[k] = std::min(colour[k], 1.0f);
        }
    }
    return nearest;
}

// The lanes' march by the vectorised kernel, its sums handed back to them.
void MarchVectorised(const Pass& pass, Lane lanes[]) {
    PacketRays rays;  // every lane's ray set, finite: lanes off compute on them unseen
    for (int l = 0; l < pass.lanes; ++l) {
        const Lane& lane = lanes[l];
        rays.on[l] = lane.on ? 1 : 0;
        for (int j = 0; j < 3; ++j) {
            rays.u0[j][l] = lane.ray.u0[j];
            rays.du[j][l] = lane.ray.du[j];
            rays.e[j][l] = lane.ray.e[j];
        }
        rays.first[l] = static_cast<int32_t>(lane.first);
        rays.last[l] = static_cast<int32_t>(lane.last);
    }
    PacketResult result;
    pass.kernel(pass.kernelPass, rays, &result);
    for (int l = 0; l < pass.lanes; ++l) {
        Lane& lane = lanes[l];
        for (int j = 0; j < 3; ++j)
            lane.c[j] = result.c[j][l];
        lane.a = result.a[l];
        lane.t = result.t[l];
        lane.extreme = result.extreme[l];
        for (uint32_t c = 0; c < kMaxChannels; ++c)
            lane.extremes[c] = result.extremes[c][l];
        lane.covered = result.covered[l] != 0;
    }
}

// The part of the box a ray needs, as texture positions: composite rays only
// the part of the crop where a sample can be seen; the extremes take every
// sample of the crop.
void DrawnBox(const Pass& pass, float low[3], float high[3]) {
    const SoftwareFrame& f = *pass.frame;
    const bool composite = f.mode == VolumeMode::Composite;
    for (int j = 0; j < 3; ++j) {
        low[j] = composite ? std::max(f.cropLow[j], pass.visibleLow[j]) : f.cropLow[j];
        high[j] = composite ? std::min(f.cropHigh[j], pass.visibleHigh[j]) : f.cropHigh[j];
    }
}

// The pixels the drawn box covers on the screen (its corners projected,
// their bounds a pixel wider); all of them where a corner lies at or
// behind the near plane, or nothing is drawn (then none).
void ShownPixels(Pass* pass) {
    const SoftwareFrame& f = *pass->frame;
    float low[3], high[3];
    DrawnBox(*pass, low, high);
    // A plane shows anywhere in the crop, clear space or not.
    const bool planes = f.planeShown[0] || f.planeShown[1] || f.planeShown[2];
    for (int j = 0; j < 3 && planes && f.sliceCount > 0; ++j) {
        low[j] = f.cropLow[j];
        high[j] = f.cropHigh[j];
    }
    pass->shownX0 = pass->shownY0 = 0.0f;
    pass->shownX1 = static_cast<float>(f.width);
    pass->shownY1 = static_cast<float>(f.height);
    if (!(low[0] <= high[0] && low[1] <= high[1] && low[2] <= high[2])) {
        pass->shownX1 = pass->shownY1 = 0.0f;
        return;
    }
    float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (int corner = 0; corner < 8; ++corner) {
        float p[3], q[3];
        for (int j = 0; j < 3; ++j)
            p[j] = ((corner >> j & 1 ? high[j] : low[j]) * 2.0f - 1.0f) * pass->half[j];
        for (int j = 0; j < 3; ++j)
            q[j] = p[0] * f.view.m[0][j] + p[1] * f.view.m[1][j] + p[2] * f.view.m[2][j] + f.view.m[3][j];
        if (!(q[2] > pass->nearPlane))
            return;
        const float ndcX = q[0] * f.projection.m[0][0] / q[2], ndcY = q[1] * f.projection.m[1][1] / q[2];
        const float px = (ndcX + 1.0f) * 0.5f * static_cast<float>(f.width);
        const float py = (1.0f - ndcY) * 0.5f * static_cast<float>(f.height);
        x0 = std::min(x0, px);
        y0 = std::min(y0, py);
        x1 = std::max(x1, px);
        y1 = std::max(y1, py);
    }
    if (!(x0 <= x1 && y0 <= y1))
        return;
    pass->shownX0 = std::max(pass->shownX0, x0 - 1.0f);
    pass->shownY0 = std::max(pass->shownY0, y0 - 1.0f);
    pass->shownX1 = std::min(pass->shownX1, x1 + 1.0f);
    pass->shownY1 = std::min(pass->shownY1, y1 + 1.0f);
}

void MarchPacket(const Pass& pass, uint32_t x0, uint32_t y0) {
    const SoftwareFrame& f = *pass.frame;
    const bool composite = f.mode == VolumeMode::Composite, maximum = f.mode == VolumeMode::Maximum;
    const int64_t step = std::max<uint32_t>(f.sliceStep, 1);
    float low[3], high[3];
    DrawnBox(pass, low, high);
    Lane lanes[kLanes];
    bool inViewport[kLanes] = {};
    float nearZ[kLanes], farZ[kLanes];
    const uint32_t packetHeight = static_cast<uint32_t>(pass.lanes / kPacketWidth);
    const bool shown =
        static_cast<float>(x0 + kPacketWidth) > pass.shownX0 &&
        static_cast<float>(x0)<pass.shownX1&& static_cast<float>(y0 + packetHeight)> pass.shownY0 &&
        static_cast<float>(y0) < pass.shownY1;
    if (shown)
        SetUpRays(pass, low, high, x0, y0, lanes, nearZ, farZ);
    const bool anyPlane = f.planeShown[0] || f.planeShown[1] || f.planeShown[2];
    int64_t first = INT64_MAX, last = -1;
    for (int l = 0; l < pass.lanes; ++l) {
        const uint32_t x = x0 + l % kPacketWidth, y = y0 + l / kPacketWidth;
        Lane& lane = lanes[l];
        lane.on = false;
        lane.onPlane = false;
        lane.first = 0;
        lane.last = -1;
        inViewport[l] = x < f.width && y < f.height;
        if (!shown || !inViewport[l])
            continue;
        float planeZ = INFINITY;
        if ((composite || pass.channels == 1) && anyPlane && f.sliceCount > 0) {
            planeZ = NearestPlane(pass, lane, lane.planeColour);
            lane.onPlane = planeZ < INFINITY;
        }
        if (!(nearZ[l] <= farZ[l]))
            continue;
        // Planes a hair outside still get the exact test per sample.
        const float margin = 1e-4f * (std::fabs(nearZ[l]) + std::fabs(farZ[l])) + 1e-6f;
        PlanesBetween(f, nearZ[l] - margin, farZ[l] + margin, &lane.first, &lane.last);
        // Nothing at or behind the plane is sampled: the slices there fail
        // the slices pass's depth test against it.
        if (lane.onPlane && composite)
            lane.first = std::max<int64_t>(
                lane.first,
                software_volume::PlanesAtLeast(
                    f.sliceDepth, static_cast<int32_t>(std::min<size_t>(f.sliceCount, INT32_MAX)), planeZ));
        if (lane.first > lane.last)
            continue;
        lane.on = true;
        first = std::min(first, lane.first);
        last = std::max(last, lane.last);
    }
    // A packet that misses what can be seen is background only.
    const bool vectorised = pass.kernel != nullptr && first <= last;
    if (vectorised)
        MarchVectorised(pass, lanes);
    else
        for (int l = 0; l < pass.lanes; ++l)
            lanes[l].Clear();
    for (int64_t i = last - last % step; i >= first && i >= 0 && !vectorised; i -= step) {
        const float z = f.sliceDepth[i];
        int live = 0;
        for (int l = 0; l < pass.lanes; ++l) {
            Lane& lane = lanes[l];
            if (!lane.on)
                continue;
            if (i < lane.first) {
                lane.on = false;
                continue;
            }
            ++live;
            if (i > lane.last || z < lane.skipUntil)
                continue;
            const float u[3] = {lane.ray.u0[0] + z * lane.ray.du[0], lane.ray.u0[1] + z * lane.ray.du[1],
                                lane.ray.u0[2] + z * lane.ray.du[2]};
            if (!InCrop(f, u))
                continue;
            int32_t brick[3];
            if (pass.channels > 1) {
                float values[kMaxChannels];
                // A brick is clear for all the channels or none.
                if (!Trilinear(pass.grid, u, &values[0], brick)) {
                    lane.skipUntil = BrickExit(lane.ray, brick, pass.grid.dims, z);
                    continue;
                }
                for (uint32_t c = 1; c < pass.channels; ++c) {
                    Grid channel = pass.grid;
                    channel.texels += c;
                    channel.clearBrick = nullptr;
                    Trilinear(channel, u, &values[c], brick);
                }
                if (!composite) {
                    for (uint32_t c = 0; c < pass.channels; ++c)
                        lane.extremes[c] = !lane.covered ? values[c]
                                           : maximum     ? std::max(lane.extremes[c], values[c])
                                                         : std::min(lane.extremes[c], values[c]);
                    lane.covered = true;
                    continue;
                }
                ChannelsComposite(pass, lane, values, u);
                if (lane.t <= 1.0f - kStopOpacity)
                    lane.on = false;
                continue;
            }
            float value;
            if (!Trilinear(pass.grid, u, &value, brick)) {
                lane.skipUntil = BrickExit(lane.ray, brick, pass.grid.dims, z);
                continue;
            }
            if (!composite) {
                lane.extreme = !lane.covered ? value
                               : maximum     ? std::max(lane.extreme, value)
                                             : std::min(lane.extreme, value);
                lane.covered = true;
                continue;
            }
            if (pass.shaded)
                ShadedComposite(pass, lane, value, u);
            else
                Composite(pass, lane, value);
            if (lane.t <= 1.0f - kStopOpacity)
                lane.on = false;
        }
        if (live == 0)
            break;
    }
    for (int l = 0; l < pass.lanes; ++l) {
        if (!inViewport[l])
            continue;
        const Lane& lane = lanes[l];
        uint16_t* o = pass.out + (size_t{y0 + l / kPacketWidth} * pass.rowPixels + x0 + l % kPacketWidth) * 4;
        if (composite && lane.onPlane) {
            // The plane is drawn first, opaque; the slices in front blend over it.
            for (int c = 0; c < 3; ++c)
                o[c] = Unorm16(lane.c[c] + lane.t * lane.planeColour[c]);
            o[3] = Unorm16(lane.a + lane.t);
        } else if (composite) {
            for (int c = 0; c < 3; ++c)
                o[c] = Unorm16(lane.c[c] + lane.t * pass.frame->background[c]);
            o[3] = Unorm16(lane.a);
        } else if (pass.channels > 1) {
            for (uint32_t c = 0; c < kMaxChannels; ++c) {
                const float d = c < pass.channels && lane.covered ? lane.extremes[c] / 65535.0f : 0.0f;
                o[c] = !lane.covered ? (maximum ? 0 : 65535)
                                     : Unorm16(maximum ? kExtremeStep + d * (1.0f - kExtremeStep)
                                                       : d * (1.0f - kExtremeStep));
            }
        } else {
            // The filtered value is the density times 65535 already. Green
            // and blue as the slices' layer keeps them: the starting value,
            // or a plane's grey and its mark.
            const uint16_t start = maximum ? 0 : 65535;
            o[0] =
                lane.covered ? static_cast<uint16_t>(std::clamp(lane.extreme, 0.0f, 65535.0f) + 0.5f) : start;
            o[1] = lane.onPlane ? Unorm16(lane.planeColour[0]) : start;
            o[2] = lane.onPlane ? static_cast<uint16_t>(65535 - start) : start;
            o[3] = lane.covered ? 65535 : 0;
        }
    }
}

// The vectorised kernel for this frame, where the machine has one and the
// frame is one it serves: a single channel of at least two texels a row, and
// fewer texels than 32-bit indices reach. Otherwise the scalar lanes.
void ChooseKernel(const SoftwareVolume& volume, const SoftwareFrame& frame,
                  const std::vector<uint8_t>& clearBrick, std::vector<int32_t>* wideClearBrick, Pass* pass) {
    pass->kernel = nullptr;
    pass->lanes = kLanes;
    SoftwareKernel kernel = frame.kernel;
    if (kernel == SoftwareKernel::Fastest)
        kernel = SoftwareKernelRuns(SoftwareKernel::Avx512) ? SoftwareKernel::Avx512
                 : SoftwareKernelRuns(SoftwareKernel::Avx2) ? SoftwareKernel::Avx2
                                                            : SoftwareKernel::Scalar;
    if (kernel == SoftwareKernel::Scalar || !SoftwareKernelRuns(kernel))
        return;
    const Grid& g = pass->grid;
    if (pass->channels > 1 && g.xStride != 2 && g.xStride != 4)
        return;  // the kernels read the channels of 2 or 4 a texel
    const uint64_t texels = uint64_t{volume.dims[0]} * volume.dims[1] * volume.dims[2];
    const uint64_t gradientTexels =
        uint64_t{volume.gradientDims[0]} * volume.gradientDims[1] * volume.gradientDims[2];
    if (volume.dims[0] < 2 || texels * static_cast<uint32_t>(g.xStride) >= (uint64_t{1} << 31) ||
        (pass->shaded && gradientTexels >= (uint64_t{1} << 31)) || pass->lookup == nullptr ||
        pass->frame->sliceCount >= size_t{INT32_MAX})
        return;
    KernelPass& k = pass->kernelPass;
    const SoftwareFrame& f = *pass->frame;
    k.sliceDepth = f.sliceDepth;
    k.sliceCount = static_cast<int32_t>(f.sliceCount);
    k.sliceStep = static_cast<int32_t>(std::max<uint32_t>(f.sliceStep, 1));
    for (int j = 0; j < 3; ++j) {
        k.cropLow[j] = f.cropLow[j];
        k.cropHigh[j] = f.cropHigh[j];
        k.dims[j] = g.dims[j];
        k.gradientDims[j] = pass->gradient.dims[j];
    }
    k.mode = f.mode == VolumeMode::Composite ? 0 : f.mode == VolumeMode::Maximum ? 1 : 2;
    k.shaded = pass->shaded;
    k.lookup = pass->lookup;
    k.texels = g.texels;
    k.rowStride = static_cast<int32_t>(g.rowStride);
    k.planeStride = static_cast<int32_t>(g.planeStride);
    k.channels = static_cast<int32_t>(pass->channels);
    k.components = g.xStride;
    k.layers = pass->layers;
    SeenEntries(pass->lookup, &k.seenFirst, &k.seenLast);
    for (uint32_t c = 0; c < pass->channels && pass->channels > 1; ++c) {
        k.channelLookup[c] = pass->channelLookup[c];
        k.channelGradient[c] = pass->shaded ? pass->channelGradient[c].texels : nullptr;
        SeenEntries(pass->channelLookup[c], &k.channelSeenFirst[c], &k.channelSeenLast[c]);
    }
    if (g.clearBrick != nullptr) {
        wideClearBrick->assign(clearBrick.begin(), clearBrick.end());
        k.clearBrick = wideClearBrick->data();
        k.bricks[0] = static_cast<int32_t>(g.bricks[0]);
        k.bricks[1] = static_cast<int32_t>(g.bricks[1]);
    }
    const VolumeBricks* bricks = volume.bricks;
    // The bounds are the first channel's: for it alone.
    if (f.mode != VolumeMode::Composite && pass->channels == 1 && f.skipClearSpace && bricks != nullptr &&
        !bricks->low.empty() && bricks->dims[0] == volume.dims[0] && bricks->dims[1] == volume.dims[1] &&
        bricks->dims[2] == volume.dims[2]) {
        const std::vector<uint16_t>& bound = f.mode == VolumeMode::Maximum ? bricks->high : bricks->low;
        wideClearBrick->assign(bound.begin(), bound.end());
        k.brickBound = wideClearBrick->data();
        k.bricks[0] = static_cast<int32_t>(bricks->bricks[0]);
        k.bricks[1] = static_cast<int32_t>(bricks->bricks[1]);
    }
    k.gradient = pass->shaded ? pass->gradient.texels : nullptr;
    k.gradientSlices = pass->gradient.slices;
    k.stopTransparency = 1.0f - kStopOpacity;
    if (kernel == SoftwareKernel::Avx512) {
        pass->kernel = software_volume::MarchPacketAvx512;
        pass->lanes = 16;
    } else {
        pass->kernel = software_volume::MarchPacketAvx2;
        pass->lanes = 8;
    }
}

}  // namespace

bool SoftwareKernelRuns(SoftwareKernel kernel) {
    switch (kernel) {
        case SoftwareKernel::Fastest:
        case SoftwareKernel::Scalar:
            return true;
        case SoftwareKernel::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case SoftwareKernel::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
    }
    return false;
}

void DrawSoftwareVolume(const SoftwareVolume& volume, const SoftwareFrame& frame, uint16_t* rgba,
                        uint32_t rowPixels) {
    if (rgba == nullptr || frame.width == 0 || frame.height == 0)
        return;
    Pass pass{};
    pass.frame = &frame;
    pass.out = rgba;
    pass.rowPixels = rowPixels;
    for (int j = 0; j < 3; ++j) {
        pass.half[j] = volume.halfExtents[j];
        pass.visibleLow[j] = 0.0f;
        pass.visibleHigh[j] = 1.0f;
    }
    const bool composite = frame.mode == VolumeMode::Composite;
    const bool drawable = volume.texels != nullptr && volume.dims[0] > 0 && volume.dims[1] > 0 &&
                          volume.dims[2] > 0 && frame.sliceDepth != nullptr && frame.sliceCount > 0 &&
                          volume.halfExtents[0] > 0 && volume.halfExtents[1] > 0 && volume.halfExtents[2] > 0;
    SoftwareFrame empty = frame;
    if (!drawable)
        empty.sliceCount = 0;  // every pixel its starting value
    pass.frame = drawable ? &frame : &empty;

    // The layers each slice stands for, as the shader works them out: the
    // box's depth along the view over 501, in eighths of the longest side.
    const float* h = volume.halfExtents;
    const d3dx::Matrix& v = frame.view;
    const float depth =
        2.0f * (h[0] * std::fabs(v.m[0][2]) + h[1] * std::fabs(v.m[1][2]) + h[2] * std::fabs(v.m[2][2]));
    const float layers = 8.0f * depth / 501.0f * std::max(1.0f, static_cast<float>(frame.sliceStep));
    const ValueLookup lookup = MakeValueLookup(frame.lookup, frame.lookupTexels, layers);
    pass.lookup = lookup.rgba.data();

    // Perspective: near n = -m32 / m22 and far f = m22 n / (m22 - 1).
    const float m22 = frame.projection.m[2][2], m32 = frame.projection.m[3][2];
    pass.nearPlane = m22 != 0.0f ? -m32 / m22 : 0.0f;
    pass.farPlane = m22 != 1.0f ? m22 * pass.nearPlane / (m22 - 1.0f) : INFINITY;

    pass.grid.texels = volume.texels;
    for (int j = 0; j < 3; ++j)
        pass.grid.dims[j] = static_cast<int32_t>(volume.dims[j]);
    // Several channels when the volume holds as many as the lookup has rows.
    pass.channels = frame.lookupRows > 1 && volume.channels == frame.lookupRows &&
                            volume.components >= volume.channels && volume.channels <= kMaxChannels
                        ? volume.channels
                        : 1;
    const uint32_t components = pass.channels > 1 ? volume.components : 1;
    pass.grid.xStride = static_cast<int32_t>(components);
    pass.grid.rowStride = size_t{volume.dims[0]} * components;
    pass.grid.planeStride = size_t{volume.dims[0]} * volume.dims[1] * components;
    pass.layers = layers;
    std::vector<ValueLookup> channelLookups;
    channelLookups.reserve(kMaxChannels);
    if (frame.lookup == nullptr)
        pass.channels = 1;
    for (uint32_t c = 0; c < pass.channels && pass.channels > 1; ++c) {
        // Each row as it is: the opacity correction is the mix's.
        channelLookups.push_back(
            MakeValueLookup(frame.lookup + size_t{c} * frame.lookupTexels * 4, frame.lookupTexels, 1.0f));
        pass.channelLookup[c] = channelLookups.back().rgba.data();
    }
    std::vector<uint8_t> clearBrick;
    const VolumeBricks* bricks = volume.bricks;
    const bool measured = bricks != nullptr && !bricks->low.empty() && bricks->dims[0] == volume.dims[0] &&
                          bricks->dims[1] == volume.dims[1] && bricks->dims[2] == volume.dims[2];
    // Every channel's bricks, on one grid of bricks; without them all
    // nothing is skipped.
    std::vector<const VolumeBricks*> channelBricks = {bricks};
    for (uint32_t c = 1; c < pass.channels; ++c) {
        const VolumeBricks* more = volume.moreBricks != nullptr && c <= volume.moreBricks->size()
                                       ? &(*volume.moreBricks)[c - 1]
                                       : nullptr;
        channelBricks.push_back(
            bricks != nullptr && more != nullptr && more->low.size() == bricks->low.size() ? more : nullptr);
    }
    const bool allMeasured =
        std::find(channelBricks.begin(), channelBricks.end(), nullptr) == channelBricks.end();
    if (drawable && composite && frame.skipClearSpace && measured && allMeasured && frame.lookup != nullptr) {
        clearBrick.assign(bricks->low.size(), 1);
        TextureBox visible;
        visible.empty = true;
        for (uint32_t c = 0; c < pass.channels; ++c) {
            const VolumeBricks& own = *channelBricks[c];
            const LookupOpacity opacity =
                MeasureLookup(frame.lookup + size_t{c} * frame.lookupTexels * 4, frame.lookupTexels);
            for (size_t b = 0; b < clearBrick.size(); ++b)
                clearBrick[b] = clearBrick[b] && !CanBeSeen(opacity, own.low[b], own.high[b]) ? 1 : 0;
            visible = UnionOfBoxes(visible, VisibleTextureBox(own, opacity));
        }
        pass.grid.clearBrick = clearBrick.data();
        pass.grid.bricks[0] = bricks->bricks[0];
        pass.grid.bricks[1] = bricks->bricks[1];
        for (int j = 0; j < 3; ++j) {
            pass.visibleLow[j] = visible.empty ? 1.0f : visible.low[j];
            pass.visibleHigh[j] = visible.empty ? 0.0f : visible.high[j];
        }
    }
    pass.shaded = composite && frame.shading && volume.gradient != nullptr && volume.gradientDims[0] > 0 &&
                  volume.gradientDims[1] > 0 && volume.gradientDims[2] > 0;
    if (pass.shaded) {
        pass.gradient.texels = volume.gradient;
        for (int j = 0; j < 3; ++j)
            pass.gradient.dims[j] = static_cast<int32_t>(volume.gradientDims[j]);
        pass.gradient.slices = std::max<int32_t>(pass.gradient.dims[2], 2);
        const size_t channelBytes = size_t{volume.gradientDims[0]} * volume.gradientDims[1] *
                                    volume.gradientDims[2] * kGradientTexelBytes;
        for (uint32_t c = 0; c < pass.channels && pass.channels > 1; ++c) {
            pass.channelGradient[c] = pass.gradient;
            pass.channelGradient[c].texels = volume.gradient + c * channelBytes;
        }
    }

    std::vector<int32_t> wideClearBrick;
    ChooseKernel(volume, frame, clearBrick, &wideClearBrick, &pass);
    ShownPixels(&pass);
    const uint32_t packetHeight = static_cast<uint32_t>(pass.lanes / kPacketWidth);

    // Tiles of whole packets, taken in turn by every thread.
    const uint32_t tilesX = (frame.width + kTileSide - 1) / kTileSide;
    const uint32_t tilesY = (frame.height + kTileSide - 1) / kTileSide;
    const uint32_t tiles = tilesX * tilesY;
    std::atomic<uint32_t> next{0};
    const auto work = [&] {
        for (uint32_t t = next.fetch_add(1); t < tiles; t = next.fetch_add(1)) {
            const uint32_t tx = t % tilesX * kTileSide, ty = t / tilesX * kTileSide;
            for (uint32_t y = ty; y < std::min(ty + kTileSide, frame.height); y += packetHeight)
                for (uint32_t x = tx; x < std::min(tx + kTileSide, frame.width); x += kPacketWidth)
                    MarchPacket(pass, x, y);
        }
    };
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t threads = std::clamp<uint32_t>(frame.threads == 0 ? cores : frame.threads, 1, tiles);
    std::vector<std::thread> helpers;
    for (uint32_t i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

// A ray leaves a brick where its sample would first lie in the next: the
// texture positions whose sample lies in brick b along an axis are
// [(16 b + 1/2) / dim, (16 b + 16.5) / dim), unbounded past the grid's
// ends, where the sampler clamps.
float software_volume::BrickExitDepth(const float u0[3], const float du[3], const int32_t brick[3],
                                      const int32_t dims[3], float z) {
    float exit = INFINITY;
    for (int j = 0; j < 3; ++j) {
        if (du[j] == 0.0f)
            continue;
        const float dim = static_cast<float>(dims[j]);
        const bool up = du[j] > 0.0f;
        const int32_t edge = up ? brick[j] * 16 + 16 : brick[j] * 16;
        if ((up && edge >= dims[j]) || (!up && edge <= 0))
            continue;
        const float bound = (static_cast<float>(edge) + 0.5f) / dim;
        exit = std::min(exit, (bound - u0[j]) / du[j]);
    }
    // Short of it by more than the rounding of the positions: a sample just
    // inside the next brick is then taken, never one left out.
    return std::max(z, exit - 1e-4f * (std::fabs(exit) + 1.0f));
}

// The count of planes at least `z` deep (depths descending). The planes lie
// nearly evenly (the slicer's even steps, less any it left out), so a guess
// by proportion is walked to the exact place in a step or two.
int32_t software_volume::PlanesAtLeast(const float* d, int32_t n, float z) {
    if (n == 0 || !(z <= d[0]))
        return 0;
    if (z <= d[n - 1])
        return n;
    const float span = d[0] - d[n - 1];
    int32_t k = span > 0.0f ? static_cast<int32_t>((d[0] - z) / span * static_cast<float>(n - 1)) : 0;
    k = std::clamp<int32_t>(k, 0, n - 1);
    // d[k - 1] >= z > d[k] marks the count k.
    while (k < n && d[k] >= z)
        ++k;
    while (k > 0 && d[k - 1] < z)
        --k;
    return k;
}

bool VolumePassNamed(const char* name, VolumePassChoice* choice) {
    if (name == nullptr)
        return false;
    const std::string_view n(name);
    if (n != "slices" && n != "cpu")
        return false;
    *choice = n == "cpu" ? VolumePassChoice::Cpu : VolumePassChoice::Slices;
    return true;
}

bool CpuDrawsVolumeLayer(VolumePassChoice byHand, const char* environment, const char* adapter) {
    VolumePassChoice choice = byHand;
    if (choice == VolumePassChoice::Automatic && !VolumePassNamed(environment, &choice))
        choice = VolumePassChoice::Automatic;
    if (choice != VolumePassChoice::Automatic)
        return choice == VolumePassChoice::Cpu;
    // A rasteriser in software runs the slices' shader per fragment of every
    // slice; the rays skip what cannot be seen and stop where nothing shows.
    const std::string_view name(adapter != nullptr ? adapter : "");
    return name.find("llvmpipe") != std::string_view::npos || name.find("softpipe") != std::string_view::npos;
}
