// The CPU's volume pass on each set of instructions the machine has, against
// its scalar lanes: the same layer within one 8-bit level over modes,
// shading, crops, coarse frames, opaque functions (rays that stop) and grids
// whose sides are no multiple of a brick; and skipping clear space changes
// nothing beyond that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/d3dx/d3dx_math.h"
#include "render/empty_space.h"
#include "render/software_volume_pass.h"
#include "slicing/orbit_view.h"

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;
constexpr int kLevel = 257;  // one 8-bit level in the layer's 16 bits

struct Scene {
    uint32_t dims[3];
    std::vector<uint16_t> texels;
    std::vector<uint8_t> gradient;
    VolumeBricks bricks;
    std::vector<float> lookup;
};

// A blob of smooth noise in a clear grid, and its gradient as the volume's
// encoding keeps it (x, y, z as 128 + 127 n).
Scene MakeScene(uint32_t nx, uint32_t ny, uint32_t nz, bool opaque) {
    Scene s{{nx, ny, nz}, {}, {}, {}, {}};
    std::mt19937 random(nx * 131 + ny * 7 + nz);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    s.texels.resize(size_t{nx} * ny * nz);
    s.gradient.resize(s.texels.size() * kGradientTexelBytes);
    for (uint32_t z = 0; z < nz; ++z)
        for (uint32_t y = 0; y < ny; ++y)
            for (uint32_t x = 0; x < nx; ++x) {
                const float d[3] = {(x + 0.5f) / nx - 0.5f, (y + 0.5f) / ny - 0.45f, (z + 0.5f) / nz - 0.55f};
                const float r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                const float wave = 0.5f + 0.5f * std::sin(9.0f * d[0]) * std::cos(7.0f * d[1] + 3.0f * d[2]);
                const float v = r < 0.42f ? std::clamp(wave + noise(random), 0.0f, 1.0f) : 0.0f;
                const size_t i = (size_t{z} * ny + y) * nx + x;
                s.texels[i] = static_cast<uint16_t>(std::lround(v * 4095.0f)) << 4;
                for (int c = 0; c < 3; ++c)
                    s.gradient[i * 4 + c] =
                        static_cast<uint8_t>(128 + std::lround(127.0f * d[c] / (r + 1e-3f)));
                s.gradient[i * 4 + 3] = 255;
            }
    s.bricks = MeasureBricks(s.texels.data(), s.dims);
    for (int i = 0; i < 256; ++i) {
        const float t = i / 255.0f;
        const float alpha = opaque ? (t >= 0.45f ? 1.0f : 0.0f) : std::max(0.0f, t - 0.2f) * 0.4f;
        s.lookup.insert(s.lookup.end(), {t, 1.0f - t, 0.5f, alpha});
    }
    return s;
}

struct View {
    float pitch = 0.4f, yaw = 0.7f, distance = 2.6f;
    float cropLow[3] = {0, 0, 0}, cropHigh[3] = {1, 1, 1};
    VolumeMode mode = VolumeMode::Composite;
    bool shading = false, skipClearSpace = true;
    uint32_t sliceStep = 1;
};

std::vector<uint16_t> DrawFrame(const SoftwareVolume& volume, const View& v, const float* lookup,
                                uint32_t lookupRows, SoftwareKernel kernel) {
    SoftwareFrame frame;
    d3dx::Vector4 light;
    ComputeOrbitView(v.pitch, v.yaw, v.distance, &frame.view, &light);
    d3dx::MatrixPerspectiveFovLH(&frame.projection, 0.8f, float(kWidth) / kHeight, 0.1f, 100.0f);
    frame.width = kWidth;
    frame.height = kHeight;
    // The slicer's planes: 500 even steps through the box's depth, farthest first.
    float nearest = INFINITY, farthest = -INFINITY;
    for (int corner = 0; corner < 8; ++corner) {
        float z = frame.view.m[3][2];
        for (int j = 0; j < 3; ++j)
            z += (corner >> j & 1 ? 1.0f : -1.0f) * volume.halfExtents[j] * frame.view.m[j][2];
        nearest = std::min(nearest, z);
        farthest = std::max(farthest, z);
    }
    std::vector<float> depths;
    for (int plane = 500; plane >= 1; --plane)
        depths.push_back(plane * (farthest - nearest) / 501.0f + nearest);
    frame.sliceDepth = depths.data();
    frame.sliceCount = depths.size();
    frame.sliceStep = v.sliceStep;
    std::copy_n(v.cropLow, 3, frame.cropLow);
    std::copy_n(v.cropHigh, 3, frame.cropHigh);
    frame.mode = v.mode;
    frame.shading = v.shading;
    frame.lookup = lookup;
    frame.lookupTexels = 256;
    frame.lookupRows = lookupRows;
    frame.skipClearSpace = v.skipClearSpace;
    frame.kernel = kernel;
    std::vector<uint16_t> rgba(size_t{kWidth} * kHeight * 4, 0);
    DrawSoftwareVolume(volume, frame, rgba.data(), kWidth);
    return rgba;
}

std::vector<uint16_t> Draw(const Scene& s, const View& v, SoftwareKernel kernel) {
    SoftwareVolume volume;
    volume.texels = s.texels.data();
    volume.gradient = s.gradient.data();
    volume.bricks = &s.bricks;
    const float longest = static_cast<float>(std::max({s.dims[0], s.dims[1], s.dims[2]}));
    for (int j = 0; j < 3; ++j) {
        volume.dims[j] = volume.gradientDims[j] = s.dims[j];
        volume.halfExtents[j] = 0.5f * static_cast<float>(s.dims[j]) / longest;
    }
    return DrawFrame(volume, v, s.lookup.data(), 1, kernel);
}

// The largest difference, in 16-bit units, and that something was drawn.
int Farthest(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
    return worst;
}

bool ShowsSomething(const std::vector<uint16_t>& rgba, const std::vector<uint16_t>& empty) {
    return Farthest(rgba, empty) > 20 * kLevel;
}

TEST(SoftwareVolumePass, EveryKernelDrawsTheScalarLanesPicture) {
    const Scene scenes[] = {MakeScene(45, 38, 29, false), MakeScene(2, 33, 17, false),
                            MakeScene(40, 40, 40, true)};
    View clearView;
    clearView.cropHigh[0] = 0.0f;  // nothing left to draw
    for (const Scene& s : scenes) {
        std::vector<View> views(8);
        views[1].shading = true;
        views[2].yaw = -2.3f;
        views[2].distance = 1.2f;  // the eye close, rays cut by the near plane's depth
        views[3].cropLow[0] = 0.3f;
        views[3].cropHigh[2] = 0.6f;
        views[4].sliceStep = 3;
        views[5].mode = VolumeMode::Maximum;
        views[6].mode = VolumeMode::Minimum;
        views[6].cropLow[1] = 0.2f;
        views[7].pitch = 1.5707964f;  // looking along an axis: rays parallel to faces
        views[7].yaw = 0.0f;
        for (SoftwareKernel kernel : {SoftwareKernel::Avx2, SoftwareKernel::Avx512}) {
            if (!SoftwareKernelRuns(kernel))
                continue;
            for (size_t v = 0; v < views.size(); ++v) {
                SCOPED_TRACE(testing::Message() << "grid " << s.dims[0] << " x " << s.dims[1] << " x "
                                                << s.dims[2] << ", view " << v << ", kernel " << int(kernel));
                const std::vector<uint16_t> scalar = Draw(s, views[v], SoftwareKernel::Scalar);
                EXPECT_TRUE(ShowsSomething(scalar, Draw(s, clearView, SoftwareKernel::Scalar)));
                EXPECT_LE(Farthest(Draw(s, views[v], kernel), scalar), kLevel);
            }
        }
        for (View v : {views[0], views[1]}) {
            const std::vector<uint16_t> skipping = Draw(s, v, SoftwareKernel::Fastest);
            v.skipClearSpace = false;
            EXPECT_LE(Farthest(Draw(s, v, SoftwareKernel::Fastest), skipping), kLevel)
                << "clear space skipped";
        }
    }
}

// Two channels in two-component texels and three in four (as the volume
// keeps them), each through its own function and gradient, on every kernel
// against the lanes.
TEST(SoftwareVolumePass, EveryKernelMixesChannelsAsTheScalarLanes) {
    const Scene parts[] = {MakeScene(37, 30, 26, false), MakeScene(37, 30, 26, true),
                           MakeScene(37, 30, 26, false)};
    const size_t count = parts[0].texels.size();
    for (uint32_t channels : {2u, 3u}) {
        const uint32_t components = channels == 2 ? 2 : 4;
        std::vector<uint16_t> texels(count * components, 0);
        std::vector<uint8_t> gradient;
        std::vector<float> lookup;
        std::vector<VolumeBricks> more;
        for (uint32_t c = 0; c < channels; ++c) {
            // Each channel shifted along x by a few texels: they overlap in part.
            for (size_t i = 0; i < count; ++i)
                texels[i * components + c] = parts[c].texels[(i + 4 * c) % count];
            gradient.insert(gradient.end(), parts[c].gradient.begin(), parts[c].gradient.end());
            lookup.insert(lookup.end(), parts[c].lookup.begin(), parts[c].lookup.end());
            if (c > 0)
                more.push_back(parts[c].bricks);
        }
        for (int which = 0; which < 3; ++which) {
            View v;
            v.shading = which == 1;
            v.mode = which == 2 ? VolumeMode::Maximum : VolumeMode::Composite;
            const auto draw = [&](SoftwareKernel kernel) {
                SoftwareVolume volume;
                volume.texels = texels.data();
                volume.channels = channels;
                volume.components = components;
                volume.gradient = gradient.data();
                volume.bricks = &parts[0].bricks;
                volume.moreBricks = &more;
                for (int j = 0; j < 3; ++j) {
                    volume.dims[j] = volume.gradientDims[j] = parts[0].dims[j];
                    volume.halfExtents[j] = 0.5f * static_cast<float>(parts[0].dims[j]) / 37.0f;
                }
                return DrawFrame(volume, v, lookup.data(), channels, kernel);
            };
            const std::vector<uint16_t> scalar = draw(SoftwareKernel::Scalar);
            for (SoftwareKernel kernel : {SoftwareKernel::Avx2, SoftwareKernel::Avx512}) {
                if (SoftwareKernelRuns(kernel)) {
                    EXPECT_LE(Farthest(draw(kernel), scalar), kLevel)
                        << channels << " channels, kernel " << int(kernel) << ", view " << which;
                }
            }
        }
    }
}

}  // namespace
