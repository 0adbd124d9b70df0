// A plane laid flat: the picture against the volume's own samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/plane_picture.h"
#include "render/slice_planes.h"

namespace {

// A voxel's 12-bit value made from its place, so that a wrong axis or flip shows.
uint16_t Distinct(uint32_t x, uint32_t y, uint32_t z, uint32_t c) {
    return static_cast<uint16_t>((x * 7 + y * 131 + z * 977 + c * 1500) % 4096);
}

// Texels as the volume keeps them: 12 bits shifted to 16, `c` interleaved.
struct Grid {
    uint32_t dims[3], c;
    std::vector<uint16_t> texels;
    Grid(uint32_t x, uint32_t y, uint32_t z, uint32_t channels,
         uint16_t (*value)(uint32_t, uint32_t, uint32_t, uint32_t))
        : dims{x, y, z}, c(channels) {
        for (uint32_t k = 0; k < z; ++k)
            for (uint32_t j = 0; j < y; ++j)
                for (uint32_t i = 0; i < x; ++i)
                    for (uint32_t n = 0; n < c; ++n)
                        texels.push_back(static_cast<uint16_t>(value(i, j, k, n) << 4));
    }
    PlaneSamples Samples(uint32_t component = 0) const {
        return {texels.data(), {dims[0], dims[1], dims[2]}, c, component};
    }
};

uint8_t Grey(float value, float low, float high) {
    return static_cast<uint8_t>(std::lround(PlaneGrey(value, low, high) * 255.0f));
}

TEST(PlanePicture, AtTheGridsResolutionEachPixelIsOneVoxelThroughTheWindow) {
    const Grid grid(5, 4, 3, 1, &Distinct);
    for (int axis = 0; axis < 3; ++axis) {
        const PlaneAxes a = PlanePictureAxes(axis);
        ASSERT_TRUE(a.across != axis && a.down != axis && a.across != a.down);
        const uint32_t w = grid.dims[a.across], h = grid.dims[a.down];
        const int32_t layer = static_cast<int32_t>(grid.dims[axis]) - 1;
        std::vector<uint8_t> grey;
        FillPlanePicture(grid.Samples(), axis, layer, 300.0f, 3000.0f, w, h, &grey);
        ASSERT_EQ(grey.size(), size_t{w} * h);
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t col = 0; col < w; ++col) {
                uint32_t v[3], under[3];
                v[axis] = static_cast<uint32_t>(layer);
                v[a.across] = col;
                v[a.down] = a.upward ? h - 1 - r : r;
                EXPECT_EQ(grey[r * w + col], Grey(Distinct(v[0], v[1], v[2], 0), 300.0f, 3000.0f))
                    << PlaneName(axis) << " pixel " << col << "," << r;
                // The cursor over that pixel's centre names that voxel.
                PlanePictureVoxel(axis, layer, grid.dims, (col + 0.5f) / w, (r + 0.5f) / h, under);
                EXPECT_TRUE(std::equal(v, v + 3, under)) << PlaneName(axis) << " pixel " << col << "," << r;
            }
        // The other planes' lines cross the pixels that show their layers.
        for (int other : {a.across, a.down})
            for (uint32_t i = 0; i < grid.dims[other]; ++i) {
                const uint32_t pixels = other == a.across ? w : h;
                const uint32_t shown = other == a.down && a.upward ? pixels - 1 - i : i;
                EXPECT_FLOAT_EQ(PlanePictureLine(axis, other, static_cast<int32_t>(i), grid.dims) * pixels,
                                shown + 0.5f);
            }
    }
    // The head at the top of the sagittal and coronal pictures, the front at the axial one's.
    EXPECT_TRUE(PlanePictureAxes(0).upward && PlanePictureAxes(0).down == 1);
    EXPECT_TRUE(!PlanePictureAxes(1).upward && PlanePictureAxes(1).down == 2);
    EXPECT_TRUE(PlanePictureAxes(2).upward && PlanePictureAxes(2).down == 1);
}

TEST(PlanePicture, FinerPixelsFilterBilinearlyWithinTheLayerAndTheChosenChannel) {
    // A ramp along y is reproduced exactly between voxel centres and held at
    // the end voxels beyond them; nothing comes from the next layers (z
    // varies) or the other channels.
    const Grid grid(3, 4, 3, 2, [](uint32_t, uint32_t y, uint32_t z, uint32_t c) {
        return static_cast<uint16_t>(c == 1 ? y * 100 + z * 1000 : 4095);
    });
    const uint32_t h = 13, w = 5;
    std::vector<uint8_t> grey;
    FillPlanePicture(grid.Samples(1), 2, 1, 1000.0f, 1300.0f, w, h, &grey);
    for (uint32_t r = 0; r < h; ++r) {
        const float y = std::clamp((1.0f - (r + 0.5f) / h) * 4 - 0.5f, 0.0f, 3.0f);  // head up
        for (uint32_t col = 0; col < w; ++col)
            EXPECT_NEAR(grey[r * w + col], PlaneGrey(y * 100, 0, 300) * 255, 0.51f) << "row " << r;
    }
    EXPECT_FLOAT_EQ(grid.Samples(1).Value(2, 3, 1), 1300) << "the value under the cursor";
    FillPlanePicture(grid.Samples(), 1, 4, 0.0f, 4095.0f, 3, 2, &grey);
    EXPECT_EQ(grey, std::vector<uint8_t>(6, 0)) << "a layer past the grid: black, no read past the samples";
    FillPlanePicture(PlaneSamples{}, 0, 0, 0.0f, 4095.0f, 2, 2, &grey);
    EXPECT_EQ(grey, std::vector<uint8_t>(4, 0));
}

// Channels in their colours, added and clamped; a black (hidden) one adds
// nothing; opaque throughout.
TEST(PlanePicture, ChannelGreysAddInTheirColours) {
    const std::vector<std::vector<uint8_t>> greys = {{200, 0, 100}, {100, 90, 255}, {255, 255, 255}};
    const float colours[3][3] = {{0, 1, 0}, {1, 0, 1}, {0, 0, 0}};
    std::vector<uint8_t> rgba;
    ChannelGreysToRgba(greys, colours, &rgba);
    EXPECT_EQ(rgba, (std::vector<uint8_t>{100, 200, 100, 255, 90, 0, 90, 255, 255, 100, 255, 255}));
}

TEST(PlanePicture, KeepsThePlanesProportionsBySpacing) {
    const uint32_t dims[3] = {100, 50, 20}, flat[3] = {0, 5, 5};
    const float spacing[3] = {1.0f, 2.0f, 5.0f};
    float w = 0, h = 0;
    FitPlanePicture(2, dims, spacing, 400, 300, &w, &h);  // coronal: 100 x 100 units
    EXPECT_TRUE(w == 300 && h == 300);
    FitPlanePicture(1, dims, spacing, 50, 300, &w, &h);  // axial: 100 x 100, the width the limit
    EXPECT_TRUE(w == 50 && h == 50);
    FitPlanePicture(0, dims, spacing, 400, 200, &w, &h);  // sagittal: z 100 across, y 100 down
    EXPECT_TRUE(w == 200 && h == 200);
    FitPlanePicture(2, flat, spacing, 400, 300, &w, &h);
    EXPECT_EQ(w * h, 0) << "no voxels across: no picture";
}

}  // namespace
