// A plane laid flat: the picture against the volume's own samples.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "render/plane_picture.h"
#include "render/slice_planes.h"

namespace {

// A grid of texels as the volume keeps them (12 bits shifted to 16), each
// voxel's value made from its place so that a wrong axis or flip shows.
struct Grid {
    uint32_t dims[3];
    uint32_t components = 1;
    std::vector<uint16_t> texels;
    Grid(uint32_t x, uint32_t y, uint32_t z, uint32_t c,
         uint16_t (*value)(uint32_t, uint32_t, uint32_t, uint32_t))
        : dims{x, y, z}, components(c), texels(size_t{x} * y * z * c) {
        for (uint32_t k = 0; k < z; ++k)
            for (uint32_t j = 0; j < y; ++j)
                for (uint32_t i = 0; i < x; ++i)
                    for (uint32_t n = 0; n < c; ++n)
                        texels[((size_t{k} * y + j) * x + i) * c + n] =
                            static_cast<uint16_t>(value(i, j, k, n) << 4);
    }
    PlaneSamples Samples(uint32_t component = 0) const {
        return {texels.data(), {dims[0], dims[1], dims[2]}, components, component};
    }
};

uint16_t Distinct(uint32_t x, uint32_t y, uint32_t z, uint32_t c) {
    return static_cast<uint16_t>((x * 7 + y * 131 + z * 977 + c * 1500) % 4096);
}
uint16_t RampAlongY(uint32_t, uint32_t y, uint32_t, uint32_t) {
    return static_cast<uint16_t>(y * 100);
}

uint8_t Grey(float value, float low, float high) {
    return static_cast<uint8_t>(std::lround(PlaneGrey(value, low, high) * 255.0f));
}

TEST(PlanePicture, AtTheGridsResolutionEachPixelIsOneVoxelThroughTheWindow) {
    const Grid grid(5, 4, 3, 1, &Distinct);
    const float low = 300.0f, high = 3000.0f;
    for (int axis = 0; axis < 3; ++axis) {
        const PlaneAxes a = PlanePictureAxes(axis);
        ASSERT_NE(a.across, axis);
        ASSERT_NE(a.down, axis);
        ASSERT_NE(a.across, a.down);
        const uint32_t w = grid.dims[a.across], h = grid.dims[a.down];
        const int32_t layer = static_cast<int32_t>(grid.dims[axis]) - 1;
        std::vector<uint8_t> grey;
        FillPlanePicture(grid.Samples(), axis, layer, low, high, w, h, &grey);
        ASSERT_EQ(grey.size(), size_t{w} * h);
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t c = 0; c < w; ++c) {
                uint32_t v[3];
                v[axis] = static_cast<uint32_t>(layer);
                v[a.across] = c;
                v[a.down] = a.upward ? h - 1 - r : r;
                EXPECT_EQ(grey[r * w + c], Grey(Distinct(v[0], v[1], v[2], 0), low, high))
                    << PlaneName(axis) << " pixel " << c << "," << r;
                // The cursor over that pixel's centre names that voxel.
                uint32_t under[3];
                PlanePictureVoxel(axis, layer, grid.dims, (c + 0.5f) / w, (r + 0.5f) / h, under);
                EXPECT_EQ(under[0], v[0]);
                EXPECT_EQ(under[1], v[1]);
                EXPECT_EQ(under[2], v[2]);
            }
        // The other planes' lines cross the pixels that show their layers.
        for (int other : {a.across, a.down}) {
            const uint32_t pixels = other == a.across ? w : h;
            for (int32_t i = 0; i < static_cast<int32_t>(grid.dims[other]); ++i) {
                const float at = PlanePictureLine(axis, other, i, grid.dims) * pixels;
                const uint32_t shown = other == a.down && a.upward ? pixels - 1 - i : i;
                EXPECT_FLOAT_EQ(at, shown + 0.5f) << PlaneName(axis) << " line of axis " << other;
            }
        }
    }
    // The readers' orientation: the head at the top of the sagittal and
    // coronal pictures, the front at the top of the axial one.
    EXPECT_TRUE(PlanePictureAxes(0).upward && PlanePictureAxes(0).down == 1);
    EXPECT_TRUE(!PlanePictureAxes(1).upward && PlanePictureAxes(1).down == 2);
    EXPECT_TRUE(PlanePictureAxes(2).upward && PlanePictureAxes(2).down == 1);
}

TEST(PlanePicture, FinerPixelsFilterBilinearlyWithinTheLayer) {
    // A ramp along y is reproduced exactly between voxel centres, and held at
    // the end voxels' values beyond them; nothing comes from the next layers.
    const Grid grid(3, 4, 3, 1, &RampAlongY);
    const uint32_t h = 13, w = 5;
    std::vector<uint8_t> grey;
    FillPlanePicture(grid.Samples(), 2, 1, 0.0f, 300.0f, w, h, &grey);
    for (uint32_t r = 0; r < h; ++r) {
        const float u = 1.0f - (r + 0.5f) / h;  // head up
        const float y = std::fmin(std::fmax(u * 4 - 0.5f, 0.0f), 3.0f);
        for (uint32_t c = 0; c < w; ++c)
            EXPECT_NEAR(grey[r * w + c], PlaneGrey(y * 100, 0, 300) * 255, 0.51f) << "row " << r;
    }
}

TEST(PlanePicture, ShowsTheChosenChannelAndRefusesWhatIsNotThere) {
    const Grid grid(3, 3, 2, 4, &Distinct);
    std::vector<uint8_t> grey;
    FillPlanePicture(grid.Samples(2), 1, 0, 0.0f, 4095.0f, 3, 2, &grey);
    // Axial: x across, z down from the front.
    EXPECT_EQ(grey[1 * 3 + 2], Grey(Distinct(2, 0, 1, 2), 0, 4095));
    EXPECT_FLOAT_EQ(grid.Samples(2).Value(2, 0, 1), Distinct(2, 0, 1, 2));
    FillPlanePicture(grid.Samples(), 1, 3, 0.0f, 4095.0f, 3, 2, &grey);
    EXPECT_EQ(grey, std::vector<uint8_t>(6, 0)) << "a layer past the grid: black, no read past the samples";
    FillPlanePicture(PlaneSamples{}, 0, 0, 0.0f, 4095.0f, 2, 2, &grey);
    EXPECT_EQ(grey, std::vector<uint8_t>(4, 0));
}

TEST(PlanePicture, KeepsThePlanesProportionsBySpacing) {
    const uint32_t dims[3] = {100, 50, 20};
    const float spacing[3] = {1.0f, 2.0f, 5.0f};
    float w = 0, h = 0;
    FitPlanePicture(2, dims, spacing, 400, 300, &w, &h);  // coronal: 100 x 100 units
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 300);
    FitPlanePicture(0, dims, spacing, 400, 300, &w, &h);  // sagittal: z 100 across, y 100 down
    EXPECT_EQ(w, 300);
    FitPlanePicture(1, dims, spacing, 50, 300, &w, &h);  // axial: 100 across, 100 down
    EXPECT_EQ(w, 50);
    EXPECT_EQ(h, 50);
    const uint32_t flat[3] = {0, 5, 5};
    FitPlanePicture(2, flat, spacing, 400, 300, &w, &h);
    EXPECT_EQ(w * h, 0) << "no voxels across: no picture";
}

}  // namespace
