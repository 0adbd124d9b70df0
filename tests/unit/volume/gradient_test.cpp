// The gradient for shading against the field it was sampled from: its
// direction in the box's physical frame, its magnitude's scale, the fade
// from flat to shaded, and nothing where nothing changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "volume/gradient.h"
#include "volume/volume_file.h"

namespace {

struct Grid {
    uint32_t dims[3];
    std::vector<uint16_t> samples;
    std::vector<uint8_t> gradient;
    Grid(uint32_t x, uint32_t y, uint32_t z)
        : dims{x, y, z}, samples(size_t{x} * y * z), gradient(samples.size() * kGradientBytesPerSample) {}
    size_t Index(uint32_t x, uint32_t y, uint32_t z) const { return (size_t{z} * dims[1] + y) * dims[0] + x; }
    GradientTexel At(uint32_t x, uint32_t y, uint32_t z) const {
        return DecodeGradient(&gradient[Index(x, y, z) * kGradientBytesPerSample]);
    }
};

// Angle in degrees between a decoded normal and a direction.
double AngleTo(const GradientTexel& t, double x, double y, double z) {
    const double dot = t.x * x + t.y * y + t.z * z;
    const double lengths = std::sqrt((t.x * t.x + t.y * t.y + t.z * t.z) * (x * x + y * y + z * z));
    return std::acos(std::clamp(dot / lengths, -1.0, 1.0)) * 180.0 / M_PI;
}

TEST(GradientTest, ARampsNormalFollowsThePhysicalFrameAndItsMagnitudeTheScale) {
    // Samples rising 160 per voxel along x and along z: in unit voxels the
    // gradient points halfway between them; with z voxels 2.5 times as long,
    // the change along z is 2.5 times slower per millimetre.
    Grid grid(8, 8, 8);
    for (uint32_t z = 0; z < 8; ++z)
        for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 8; ++x)
                grid.samples[grid.Index(x, y, z)] = static_cast<uint16_t>(160 * (x + z) + 100);
    const float cubes[3] = {1, 1, 1};
    ComputeGradient(grid.samples.data(), grid.dims, cubes, grid.gradient.data());
    const GradientTexel inside = grid.At(4, 4, 4);
    EXPECT_LT(AngleTo(inside, 1, 0, 1), 1.0);
    // |g| = 160 * sqrt(2) / 4095 of the 12-bit range per voxel, against the
    // scale: fully shaded, so the vector is the unit normal.
    const double expected = 160.0 * std::sqrt(2.0) / 4095.0 / kGradientFullScale;
    ASSERT_GT(expected, kShadedAbove);
    EXPECT_NEAR(std::hypot(inside.x, inside.y, inside.z), 1.0, 0.01);
    EXPECT_NEAR(inside.magnitude, expected, 1.0 / 255.0);
    // The edges repeat their outer samples, as the texture's clamp does:
    // across the face x = 0 the difference spans one voxel, not two.
    EXPECT_LT(AngleTo(grid.At(0, 0, 4), 0.5, 0, 1), 1.0);

    const float longZ[3] = {1, 1, 2.5f};
    ComputeGradient(grid.samples.data(), grid.dims, longZ, grid.gradient.data());
    EXPECT_LT(AngleTo(grid.At(4, 4, 4), 1, 0, 1 / 2.5), 1.0) << "spacing-aware";
    EXPECT_GT(AngleTo(grid.At(4, 4, 4), 1, 0, 1), 15.0);

    // A ramp four times gentler lies between flat and shaded: the vector keeps
    // its direction and is as long as the smooth step says.
    for (uint16_t& sample : grid.samples)
        sample = static_cast<uint16_t>(sample / 4);
    ComputeGradient(grid.samples.data(), grid.dims, cubes, grid.gradient.data());
    const GradientTexel gentle = grid.At(4, 4, 4);
    const double t = (gentle.magnitude - kFlatBelow) / (kShadedAbove - kFlatBelow);
    ASSERT_TRUE(t > 0 && t < 1) << gentle.magnitude;
    EXPECT_NEAR(std::hypot(gentle.x, gentle.y, gentle.z), t * t * (3 - 2 * t), 0.02);
    EXPECT_LT(AngleTo(gentle, 1, 0, 1), 5.0);

    // Large grids are halved, rounding up; others keep their own.
    uint32_t gradientDims[3], factors[3];
    const uint32_t large[3] = {256, 255, 256}, small[3] = {160, 160, 160};
    GradientGrid(large, gradientDims, factors);
    EXPECT_TRUE(gradientDims[0] == 128 && gradientDims[1] == 128 && gradientDims[2] == 128 &&
                factors[1] == 2);
    GradientGrid(small, gradientDims, factors);
    EXPECT_TRUE(gradientDims[0] == 160 && gradientDims[2] == 160 && factors[0] == 1 && factors[2] == 1);
}

TEST(GradientTest, ABallsNormalsPointOutOfItAcrossEveryPlaneAndFlatSpaceHasNone) {
    // Large enough to be shared among threads: every plane must agree with
    // the sphere, wherever a thread's share begins.
    constexpr uint32_t kSide = 128;
    constexpr double kRadius = 40.0, kCentre = (kSide - 1) / 2.0;
    Grid grid(kSide, kSide, kSide);
    for (uint32_t z = 0; z < kSide; ++z)
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const double r = std::hypot(x - kCentre, y - kCentre, z - kCentre);
                // A soft edge two voxels wide, dense inside.
                const double density = std::clamp((kRadius - r) / 2.0 + 0.5, 0.0, 1.0);
                grid.samples[grid.Index(x, y, z)] = static_cast<uint16_t>(density * 2500 + 100);
            }
    const float cubes[3] = {1, 1, 1};
    ComputeGradient(grid.samples.data(), grid.dims, cubes, grid.gradient.data());
    double worst = 0;
    int checked = 0;
    for (uint32_t z = 0; z < kSide; ++z)
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const double dx = x - kCentre, dy = y - kCentre, dz = z - kCentre;
                if (std::fabs(std::hypot(dx, dy, dz) - kRadius) > 0.5)
                    continue;
                // The samples rise inwards: the gradient points to the centre.
                worst = std::max(worst, AngleTo(grid.At(x, y, z), -dx, -dy, -dz));
                ++checked;
            }
    EXPECT_GT(checked, 10000);
    EXPECT_LT(worst, 4.0) << "degrees off the sphere's normal";
    const GradientTexel centre = grid.At(64, 64, 64), corner = grid.At(0, 0, 0);
    for (const GradientTexel& flat : {centre, corner}) {
        EXPECT_EQ(flat.magnitude, 0.0f);
        EXPECT_TRUE(flat.x == 0.0f && flat.y == 0.0f && flat.z == 0.0f) << "no shading at all";
    }
}

}  // namespace

// Worked out a slab at a time (the texture is filled as the slabs come), the
// gradient is exactly the one of the whole grid, at full size and halved,
// whatever the slab's size and however the last slab and an odd depth fall.
TEST(GradientTest, SlabsMakeExactlyTheWholeGridsGradient) {
    for (const uint32_t depth : {7u, 2u * 1024u + 1u}) {
        // The second grid passes kFullGradientSamples: its gradient is halved.
        const uint32_t dims[3] = {depth > 8 ? 64u : 9u, depth > 8 ? 32u : 5u, depth};
        const float spacing[3] = {0.7f, 0.7f, 2.5f};
        std::vector<uint16_t> samples(size_t{dims[0]} * dims[1] * dims[2]);
        uint32_t noise = 12345;
        for (uint16_t& sample : samples)
            sample = static_cast<uint16_t>((noise = noise * 1103515245u + 12345u) >> 20);
        uint32_t gradientDims[3], factors[3];
        GradientGrid(dims, gradientDims, factors);
        ASSERT_EQ(factors[0], depth > 8 ? 2u : 1u);
        std::unique_ptr<uint16_t[]> halved;
        if (factors[0] > 1) {
            uint32_t halvedDims[3];
            halved = BoxAverage(samples.data(), dims, factors, halvedDims);
        }
        const float gradientSpacing[3] = {spacing[0] * factors[0], spacing[1] * factors[1],
                                          spacing[2] * factors[2]};
        const size_t plane = size_t{gradientDims[0]} * gradientDims[1] * kGradientBytesPerSample;
        std::vector<uint8_t> whole(plane * gradientDims[2]);
        ComputeGradient(halved ? halved.get() : samples.data(), gradientDims, gradientSpacing, whole.data());
        for (const uint64_t slabTexels : {uint64_t{1}, plane / 4 * 3, uint64_t{1} << 30}) {
            std::vector<uint8_t> slabs(whole.size(), 0);
            uint32_t nextZ = 0;
            ASSERT_TRUE(ComputeGradientSlabs(samples.data(), dims, spacing, slabTexels,
                                             [&](uint32_t firstZ, uint32_t planes, const uint8_t* texels) {
                                                 EXPECT_EQ(firstZ, nextZ) << "slabs in order";
                                                 nextZ = firstZ + planes;
                                                 std::copy(texels, texels + planes * plane,
                                                           slabs.begin() + firstZ * plane);
                                             }));
            EXPECT_EQ(nextZ, gradientDims[2]);
            EXPECT_TRUE(slabs == whole) << "depth " << depth << ", slabs of " << slabTexels << " texels";
        }
    }
}
