// The Slices menu's planes as plain data: where they start, how they move
// and stop at the grid's ends, what a new grid makes of them, and the
// status line's text.
#include "render/slice_planes.h"

#include <gtest/gtest.h>

namespace {

TEST(SlicePlanes, ShownAtTheMiddleVoxelMovedByOneAndStoppedAtTheEnds) {
    const uint32_t dims[3] = {5, 182, 1};
    const float spacing[3] = {1.0f, 0.5f, 2.0f};
    SlicePlanes p;
    EXPECT_FALSE(MovePlane(p, 1, dims)) << "nothing shown: nothing to move";
    TogglePlane(p, 1, dims);
    EXPECT_TRUE(p.shown[1]);
    EXPECT_EQ(p.index[1], 90) << "the middle voxel";
    EXPECT_EQ(PlanePlaceText(p, dims, spacing), "axial 91 / 182, 45.0 mm");
    TogglePlane(p, 0, dims);
    EXPECT_EQ(p.index[0], 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(MovePlane(p, 1, dims));
    EXPECT_EQ(p.index[0], 4) << "the last plane shown moves, and stops at the last voxel";
    EXPECT_EQ(p.index[1], 90);
    for (int i = 0; i < 9; ++i)
        MovePlane(p, -1, dims);
    EXPECT_EQ(p.index[0], 0) << "and at the first";
    TogglePlane(p, 0, dims);
    EXPECT_EQ(p.current, 1) << "hiding it hands the keys to the plane still shown";
    TogglePlane(p, 2, dims);
    MovePlane(p, 1, dims);
    MovePlane(p, -3, dims);
    EXPECT_EQ(p.index[2], 0) << "a one-voxel axis keeps its one plane";
    EXPECT_EQ(PlanePlaceText(p, dims, spacing), "coronal 1 / 1, 0.0 mm");
    ClearPlanes(p);
    EXPECT_FALSE(AnyPlaneShown(p));
    EXPECT_EQ(PlanePlaceText(p, dims, spacing), "");
    // A smaller grid takes the planes on its own last layers.
    p.index[1] = 181;
    const uint32_t smaller[3] = {3, 10, 4};
    ClampPlanes(p, smaller);
    EXPECT_EQ(p.index[0], 0);
    EXPECT_EQ(p.index[1], 9);
    EXPECT_EQ(p.index[2], 0);
    EXPECT_FLOAT_EQ(PlaneTexturePosition(9, 10), 0.95f) << "the layer's centre";
}

TEST(SlicePlanes, TheGreyWindowAndTheCommandLinesList) {
    EXPECT_FLOAT_EQ(PlaneGrey(0.0f, 0.0f, 4095.0f), 0.0f);
    EXPECT_FLOAT_EQ(PlaneGrey(4095.0f, 0.0f, 4095.0f), 1.0f);
    EXPECT_FLOAT_EQ(PlaneGrey(1500.0f, 1000.0f, 2000.0f), 0.5f);
    EXPECT_FLOAT_EQ(PlaneGrey(3000.0f, 1000.0f, 2000.0f), 1.0f);
    SlicePlanes p;
    ASSERT_EQ(ParsePlaneList("z=10,x=0", &p), "");
    EXPECT_TRUE(p.shown[0] && !p.shown[1] && p.shown[2]);
    EXPECT_EQ(p.index[2], 10);
    EXPECT_EQ(p.current, 0);
    const uint32_t dims[3] = {4, 4, 10};
    EXPECT_EQ(PlanesOutsideGrid(p, dims), "--slices z=10 lies past the grid: its layers are 0..9");
    const SlicePlanes before = p;
    EXPECT_NE(ParsePlaneList("y=99999999999", &p), "");
    EXPECT_NE(ParsePlaneList("y=+3", &p), "");
    EXPECT_EQ(p.shown[1], before.shown[1]) << "a refused list changes nothing";
}

}  // namespace
