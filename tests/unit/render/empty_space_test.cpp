// The clear space the slice pass leaves out, checked against brute force: a
// sample the lookup can show (trilinear over the volume, then the lookup's
// linear filter, both clamped as the samplers are) never lies outside the
// visible box, and no point of the box falls outside the slices' depth window
// or the scissor rectangle.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "render/empty_space.h"
#include "slicing/camera.h"

namespace {

struct Volume16 {
    uint32_t dims[3];
    std::vector<uint16_t> texels;
    uint16_t At(int x, int y, int z) const {
        x = std::clamp(x, 0, int(dims[0]) - 1);
        y = std::clamp(y, 0, int(dims[1]) - 1);
        z = std::clamp(z, 0, int(dims[2]) - 1);
        return texels[(size_t(z) * dims[1] + y) * dims[0] + x];
    }
    // Clamp-to-edge trilinear filtering at texture coordinate t.
    double Sample(const double t[3]) const {
        double p[3], f[3];
        int i[3];
        for (int a = 0; a < 3; ++a) {
            p[a] = t[a] * dims[a] - 0.5;
            i[a] = int(std::floor(p[a]));
            f[a] = p[a] - i[a];
        }
        double sum = 0;
        for (int c = 0; c < 8; ++c) {
            const int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1;
            const double w = (dx ? f[0] : 1 - f[0]) * (dy ? f[1] : 1 - f[1]) * (dz ? f[2] : 1 - f[2]);
            sum += w * At(i[0] + dx, i[1] + dy, i[2] + dz);
        }
        return sum;
    }
};

// Linear filtering of the lookup's opacity at density d (0..1), clamped.
double LookupAlpha(const std::vector<float>& rgba, double d) {
    const int n = int(rgba.size() / 4);
    const double p = d * n - 0.5;
    const int i = int(std::floor(p));
    const double f = p - i;
    const auto alpha = [&](int k) { return double(rgba[size_t(std::clamp(k, 0, n - 1)) * 4 + 3]); };
    return (1 - f) * alpha(i) + f * alpha(i + 1);
}

// Clear everywhere but a ball of 3000 (12-bit) in one corner, walls of 1000
// one sample thick on bricks' edges, and far from them a patch of
// neighbours 0 and 4095 whose mixes pass through every value.
Volume16 MakeVolume(bool withPatch = true) {
    Volume16 v{{37, 21, 50}, {}};
    v.texels.resize(size_t(37) * 21 * 50);
    for (int z = 0; z < 50; ++z)
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x) {
                uint16_t value = 0;
                const int dx = x - 8, dy = y - 6, dz = z - 10;
                if (dx * dx + dy * dy + dz * dz < 16)
                    value = 3000;
                if (x == 32 && y < 5 && z >= 20 && z < 25)
                    value = 1000;  // the first sample of the third brick along x
                if (x < 4 && ((y == 16 && z < 4) || (z == 32 && y < 4)))
                    value = 1000;  // and of the second along y, the third along z
                if (withPatch && x >= 30 && y >= 15 && z >= 44)
                    value = (x + y + z) % 2 ? 4095 : 0;
                v.texels[(size_t(z) * 21 + y) * 37 + x] = uint16_t(value << 4);
            }
    return v;
}

// Opaque only over densities 0.3..0.35 and 0.7..0.8.
std::vector<float> MakeLookup(int texels) {
    std::vector<float> rgba(size_t(texels) * 4, 0.0f);
    for (int i = 0; i < texels; ++i) {
        const double d = (i + 0.5) / texels;
        rgba[size_t(i) * 4 + 3] = (d > 0.3 && d < 0.35) || (d > 0.7 && d < 0.8) ? 0.5f : 0.0f;
    }
    return rgba;
}

TEST(EmptySpaceTest, EverySampleTheLookupCanShowLiesInTheVisibleBox) {
    const Volume16 volume = MakeVolume();
    const std::vector<float> lookup = MakeLookup(64);
    const VolumeBricks bricks = MeasureBricks(volume.texels.data(), volume.dims);
    const TextureBox box = VisibleTextureBox(bricks, MeasureLookup(lookup.data(), 64));
    ASSERT_FALSE(box.empty);

    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int seen = 0;
    for (int n = 0; n < 300000; ++n) {
        const double t[3] = {unit(random), unit(random), unit(random)};
        if (LookupAlpha(lookup, volume.Sample(t) / 65535.0) <= 0)
            continue;
        ++seen;
        for (int a = 0; a < 3; ++a)
            ASSERT_TRUE(t[a] >= box.low[a] && t[a] <= box.high[a])
                << "a visible sample at " << t[0] << ", " << t[1] << ", " << t[2] << " is outside on axis "
                << a;
    }
    EXPECT_GT(seen, 100);
    // Both the ball and the mixed patch are seen, so the box spans them, but
    // the clear slab between the patch and the far faces is left out in z.
    EXPECT_LT(box.low[2], 10.0 / 50);
    EXPECT_GT(box.high[0], 30.0 / 37);

    // A lookup that shows nothing leaves nothing; one that shows everything, all.
    EXPECT_TRUE(VisibleTextureBox(bricks, MeasureLookup(std::vector<float>(256, 0.0f).data(), 64)).empty);
    std::vector<float> opaque(256, 1.0f);
    const TextureBox whole = VisibleTextureBox(bricks, MeasureLookup(opaque.data(), 64));
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(whole.low[a], 0.0f);
        EXPECT_EQ(whole.high[a], 1.0f);
    }
}

// Only the ball is visible through a lookup that shows 3000 alone: the box
// is about the ball's bricks, far smaller than the volume. The patch of
// 0 and 4095 would show too: its mixes pass through 3000.
TEST(EmptySpaceTest, TheBoxFollowsTheBricksTheLookupShows) {
    const Volume16 volume = MakeVolume(false);
    std::vector<float> rgba(64 * 4, 0.0f);
    const int ball = int(3000.0 * 16 / 65535 * 64);
    rgba[size_t(ball) * 4 + 3] = 1.0f;
    const TextureBox box =
        VisibleTextureBox(MeasureBricks(volume.texels.data(), volume.dims), MeasureLookup(rgba.data(), 64));
    ASSERT_FALSE(box.empty);
    EXPECT_LE(box.high[0], 18.0f / 37) << "the ball's bricks end at x = 16 (+2)";
    EXPECT_LE(box.high[2], 18.0f / 50);
    const Volume16 patched = MakeVolume(true);
    EXPECT_EQ(
        VisibleTextureBox(MeasureBricks(patched.texels.data(), patched.dims), MeasureLookup(rgba.data(), 64))
            .high[2],
        1.0f);
    // A crop narrows the box on either side; one that misses it leaves nothing.
    const float low[3] = {0.1f, 0.2f, 0.05f}, high[3] = {0.3f, 1.0f, 0.25f}, right[3] = {0.6f, 0, 0};
    const TextureBox cropped = CroppedTextureBox(box, low, high);
    for (int a = 0; a < 3; ++a)
        EXPECT_TRUE(cropped.low[a] == std::max(box.low[a], low[a]) &&
                    cropped.high[a] == std::min(box.high[a], high[a]))
            << a;
    EXPECT_FALSE(cropped.empty);
    EXPECT_TRUE(CroppedTextureBox(box, right, high).empty);
}

// The pieces: a brick's range holds every sample taken in it, and a
// density the lookup's filter gives any opacity is one it can show.
// Each brick's range is exactly that of the samples its reach holds (one
// more either side along each axis, within the grid), on grids whose edges
// are no multiple of a brick.
TEST(EmptySpaceTest, BrickRangesAreThoseOfTheSamplesTheyReach) {
    std::mt19937 random(3);
    for (const auto& dims : {std::array<uint32_t, 3>{37, 20, 33}, {16, 1, 17}}) {
        std::vector<uint16_t> texels(size_t{dims[0]} * dims[1] * dims[2]);
        for (uint16_t& t : texels)
            t = static_cast<uint16_t>(random());
        const VolumeBricks bricks = MeasureBricks(texels.data(), dims.data());
        const auto reach = [&](int a, uint32_t b) {
            return std::pair{b * 16 > 0 ? b * 16 - 1 : 0, std::min(dims[a] - 1, b * 16 + 17)};
        };
        for (size_t i = 0; i < bricks.low.size(); ++i) {
            const auto [x0, x1] = reach(0, i % bricks.bricks[0]);
            const auto [y0, y1] = reach(1, i / bricks.bricks[0] % bricks.bricks[1]);
            const auto [z0, z1] = reach(2, i / bricks.bricks[0] / bricks.bricks[1]);
            uint16_t lo = UINT16_MAX, hi = 0;
            for (uint32_t z = z0; z <= z1; ++z)
                for (uint32_t y = y0; y <= y1; ++y)
                    for (uint32_t x = x0; x <= x1; ++x) {
                        const uint16_t t = texels[(size_t{z} * dims[1] + y) * dims[0] + x];
                        lo = std::min(lo, t), hi = std::max(hi, t);
                    }
            ASSERT_EQ(bricks.low[i], lo) << "brick " << i;
            ASSERT_EQ(bricks.high[i], hi) << "brick " << i;
        }
    }
}

TEST(EmptySpaceTest, BrickRangesHoldTheirSamplesAndTheLookupMissesNoOpacity) {
    const Volume16 volume = MakeVolume();
    const VolumeBricks bricks = MeasureBricks(volume.texels.data(), volume.dims);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int n = 0; n < 200000; ++n) {
        const double t[3] = {unit(random), unit(random), unit(random)};
        uint32_t b[3];
        for (int a = 0; a < 3; ++a)
            b[a] = std::min<uint32_t>(uint32_t(std::max(0.0, t[a] * volume.dims[a] - 0.5)) / 16,
                                      bricks.bricks[a] - 1);
        const size_t i = (size_t(b[2]) * bricks.bricks[1] + b[1]) * bricks.bricks[0] + b[0];
        const double sample = volume.Sample(t);
        ASSERT_GE(sample, bricks.low[i] - 1e-6) << n;
        ASSERT_LE(sample, bricks.high[i] + 1e-6) << n;
    }

    for (int texel : {0, 1, 17, 62, 63}) {
        std::vector<float> rgba(64 * 4, 0.0f);
        rgba[size_t(texel) * 4 + 3] = 0.25f;
        const LookupOpacity lookup = MeasureLookup(rgba.data(), 64);
        for (uint32_t value = 0; value <= 65535; ++value) {
            if (LookupAlpha(rgba, value / 65535.0) > 0) {
                ASSERT_TRUE(CanBeSeen(lookup, uint16_t(value), uint16_t(value))) << texel << " " << value;
            }
        }
    }
}

// Views from afar and from as close as the wheel allows (0.25: the eye in the
// box, corners behind it): every point of the box that lands in the viewport
// lies in the scissor, when there is one.
TEST(EmptySpaceTest, TheWindowHoldsEveryPointOfTheBox) {
    TextureBox part;
    part.low[0] = 0.1f, part.high[0] = 0.4f;
    part.low[1] = 0.5f, part.high[1] = 0.9f;
    part.low[2] = 0.2f, part.high[2] = 0.95f;
    const float half[3] = {0.5f, 0.35f, 0.45f};
    d3dx::Matrix projection;
    d3dx::MatrixPerspectiveFovLH(&projection, 0.7855f, 1.25f, 0.1f, 100.0f);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    // Four far views; close ones where the part straddles the eye's plane and
    // the corners in front alone would give too small a scissor; then close
    // ones at random, down to the wheel's 0.25.
    std::vector<std::tuple<float, float, float>> views = {
        {0.0f, 0.0f, 4.0f},    {0.7f, -1.2f, 1.6f},   {-1.3f, 2.9f, 2.0f}, {0.2f, 0.4f, 1.1f},
        {0.14f, 2.67f, 0.37f}, {-0.2f, 3.15f, 0.32f}, {0.71f, 2.9f, 0.3f}};
    for (int n = 0; n < 30; ++n)
        views.emplace_back(3 * unit(random) - 1.5f, 6.3f * unit(random), 0.25f + 0.75f * unit(random));
    const TextureBox boxes[] = {part, TextureBox{}};  // and the whole box
    for (const TextureBox& box : boxes)
        for (const auto& [pitch, yaw, distance] : views) {
            d3dx::Matrix view;
            d3dx::Vector4 light;
            ComputeOrbitView(pitch, yaw, distance, &view, &light);
            const VisibleWindow window = WindowOfBox(box, half, view, projection, 320, 256);
            ASSERT_FALSE(window.empty);
            if (distance > 1) {
                ASSERT_TRUE(window.scissor) << "the box lies wholly in front of the eye at " << distance;
                const int area = (window.right - window.left) * (window.bottom - window.top);
                EXPECT_TRUE(&box != &boxes[0] || area < 320 * 256) << "the part's scissor is smaller";
            }
            for (int n = 0; n < 2000; ++n) {
                const d3dx::Vector3 object{
                    (2 * (box.low[0] + unit(random) * (box.high[0] - box.low[0])) - 1) * half[0],
                    (2 * (box.low[1] + unit(random) * (box.high[1] - box.low[1])) - 1) * half[1],
                    (2 * (box.low[2] + unit(random) * (box.high[2] - box.low[2])) - 1) * half[2]};
                d3dx::Vector4 seen, clip;
                d3dx::Vec3Transform(&seen, &object, &view);
                ASSERT_GE(seen.z, window.nearDepth);
                ASSERT_LE(seen.z, window.farDepth);
                const d3dx::Vector3 eye{seen.x, seen.y, seen.z};
                d3dx::Vec3Transform(&clip, &eye, &projection);
                const float x = (clip.x / clip.w * 0.5f + 0.5f) * 320,
                            y = (0.5f - clip.y / clip.w * 0.5f) * 256;
                if (!window.scissor || clip.w <= 0 || x < 0 || x >= 320 || y < 0 || y >= 256)
                    continue;
                EXPECT_TRUE(x >= window.left && x < window.right && y >= window.top && y < window.bottom)
                    << x << ", " << y << " at distance " << distance;
            }
        }
}

}  // namespace
