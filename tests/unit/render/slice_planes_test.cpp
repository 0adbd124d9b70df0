// The Slices menu's planes as plain data: where they start, how they move
// and stop at the grid's ends, what a new grid makes of them, and the
// status line's text.
#include "render/slice_planes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "slicing/orbit_view.h"

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

// The picking rule against the geometry itself: a point of the box seen
// along its line of sight from the eye, at the pixel the projection puts it.
struct Scene {
    PlaneCamera camera;
    uint32_t dims[3] = {10, 8, 6};
    Scene() {
        d3dx::Vector4 light;
        ComputeOrbitView(0.5f, 0.6f, 2.5f, &camera.view, &light);
        d3dx::MatrixPerspectiveFovLH(&camera.projection, 0.7855f, 400.0f / 300.0f, 0.01f, 1000.0f);
        camera.width = 400, camera.height = 300;
        camera.halfExtents[0] = 0.5f, camera.halfExtents[1] = 0.4f, camera.halfExtents[2] = 0.3f;
    }
    std::optional<PlaneHit> PickAt(const SlicePlanes& planes, const float u[3]) const {
        const float* h = camera.halfExtents;
        const d3dx::Vector3 o{(2 * u[0] - 1) * h[0], (2 * u[1] - 1) * h[1], (2 * u[2] - 1) * h[2]};
        d3dx::Vector4 v, clip;
        d3dx::Vec3Transform(&v, &o, &camera.view);
        const d3dx::Vector3 view{v.x, v.y, v.z};
        d3dx::Vec3Transform(&clip, &view, &camera.projection);
        const float x = (clip.x / clip.w + 1) * 0.5f * camera.width,
                    y = (1 - clip.y / clip.w) * 0.5f * camera.height;
        return PlaneUnderCursor(camera, planes, dims, static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
    // The eye in texture positions: the view's translation back through its rotation.
    void Eye(float u[3]) const {
        const d3dx::Matrix& m = camera.view;
        for (int j = 0; j < 3; ++j)
            u[j] = (-(m.m[3][0] * m.m[j][0] + m.m[3][1] * m.m[j][1] + m.m[3][2] * m.m[j][2]) /
                        camera.halfExtents[j] +
                    1) *
                   0.5f;
    }
};

TEST(PlaneUnderCursor, PicksTheVoxelOfEachPlaneWhereTheScreenShowsIt) {
    const Scene scene;
    const float centre[3] = {0.5f, 0.5f, 0.5f};
    for (int axis = 0; axis < 3; ++axis) {
        SlicePlanes planes;
        planes.shown[axis] = true;
        planes.index[axis] = 3;
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        for (const auto& [va, vb] : {std::pair{0, 0}, {1, 4}, {4, 2}}) {
            float u[3];
            u[axis] = PlaneTexturePosition(3, scene.dims[axis]);
            u[a] = (static_cast<float>(va) + 0.5f) / static_cast<float>(scene.dims[a]);
            u[b] = (static_cast<float>(vb) + 0.5f) / static_cast<float>(scene.dims[b]);
            const std::optional<PlaneHit> hit = scene.PickAt(planes, u);
            ASSERT_TRUE(hit) << "axis " << axis;
            EXPECT_TRUE(hit->axis == axis && hit->voxel[axis] == 3 && hit->voxel[a] == va &&
                        hit->voxel[b] == vb)
                << "axis " << axis << ": " << hit->axis << " " << hit->voxel[a] << "," << hit->voxel[b];
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(hit->position[k], u[k], 0.02f);
        }
        planes.index[axis] = static_cast<int32_t>(scene.dims[axis]);
        EXPECT_FALSE(scene.PickAt(planes, centre)) << "a plane past the grid is not there";
        planes.index[axis] = 3;
        planes.shown[axis] = false;
        EXPECT_FALSE(scene.PickAt(planes, centre)) << "nor a hidden one";
    }
    SlicePlanes all;
    for (int axis = 0; axis < 3; ++axis)
        all.shown[axis] = true, all.index[axis] = 2;
    EXPECT_FALSE(PlaneUnderCursor(scene.camera, all, scene.dims, 0, 0)) << "the corner shows no box";
    PlaneCamera noProjection = scene.camera;
    noProjection.projection = d3dx::Matrix{};
    EXPECT_FALSE(PlaneUnderCursor(noProjection, all, scene.dims, 200, 150)) << "no projection yet: no plane";
}

TEST(PlaneUnderCursor, TheNearestPlaneInsideTheCropIsPicked) {
    Scene scene;
    SlicePlanes planes;
    planes.shown[0] = planes.shown[2] = true;
    planes.index[0] = 6, planes.index[2] = 3;
    const float atX = PlaneTexturePosition(6, scene.dims[0]), atZ = PlaneTexturePosition(3, scene.dims[2]);
    float eye[3];
    scene.Eye(eye);
    // Points p of the x plane; the line from the eye to each meets the z
    // plane at q, in front of p or behind it.
    int inFront = 0, behind = 0;
    for (float v = 0.1f; v < 0.95f; v += 0.2f)
        for (float w = 0.1f; w < 0.95f; w += 0.2f) {
            const float p[3] = {atX, v, w};
            const float t = (atZ - eye[2]) / (p[2] - eye[2]);
            const float q[3] = {eye[0] + t * (atX - eye[0]), eye[1] + t * (v - eye[1]), atZ};
            const bool qInBox = q[0] > 0.05f && q[0] < 0.95f && q[1] > 0.05f && q[1] < 0.95f;
            // Clear of the planes' edges, where a pixel's rounding decides.
            if (std::fabs(w - atZ) < 0.1f || (!qInBox && q[0] > 0 && q[0] < 1 && q[1] > 0 && q[1] < 1))
                continue;
            const std::optional<PlaneHit> hit = scene.PickAt(planes, p);
            ASSERT_TRUE(hit);
            const bool zInFront = qInBox && t > 0 && t < 1;
            EXPECT_EQ(hit->axis, zInFront ? 2 : 0) << "x plane point " << v << "," << w;
            (zInFront ? inFront : behind)++;
            if (!zInFront || q[0] + 0.04f >= atX)
                continue;
            EXPECT_NEAR(hit->position[0], q[0], 0.02f);
            EXPECT_NEAR(hit->position[1], q[1], 0.02f);
            Scene croppedScene = scene;
            croppedScene.camera.cropLow[0] = q[0] + 0.04f;
            const std::optional<PlaneHit> past = croppedScene.PickAt(planes, p);
            EXPECT_TRUE(past && past->axis == 0) << "the z plane's part outside the crop hides nothing";
        }
    EXPECT_TRUE(inFront > 0 && behind > 0) << "the view shows each plane in front of the other somewhere";
    scene.camera.cropHigh[0] = atX - 0.05f;
    const float p[3] = {atX, 0.5f, 0.9f};
    const std::optional<PlaneHit> hit = scene.PickAt(planes, p);
    EXPECT_TRUE(!hit || hit->axis != 0) << "a plane whose layer the crop leaves out is never picked";
}

TEST(GreyWindow, ADragWidensNarrowsAndMovesItNeverToNothing) {
    float low = 0, high = 0;
    DragGreyWindow(1000.0f, 2000.0f, 0, 0, &low, &high);
    EXPECT_TRUE(low == 1000.0f && high == 2000.0f) << "no offset: the window it started from";
    DragGreyWindow(1000.0f, 2000.0f, 10, 0, &low, &high);
    EXPECT_TRUE(high - low > 1000.0f && low + high == 3000.0f) << "to the right: wider, at the same level";
    DragGreyWindow(1000.0f, 2000.0f, 0, 10, &low, &high);
    EXPECT_TRUE(high - low == 1000.0f && low > 1000.0f) << "down: a higher level";
    for (const int dx : {-100000, 100000})
        for (const int dy : {-100000, 0, 100000}) {
            DragGreyWindow(1000.0f, 2000.0f, dx, dy, &low, &high);
            EXPECT_TRUE(high - low >= kGreyMinWidth && high - low <= kGreyMaxWidth) << dx << "," << dy;
            EXPECT_TRUE(low + high >= 0.0f && (low + high) * 0.5f <= kGreyMaxLevel) << dx << "," << dy;
            // The narrowest window still tells a value below it from one above.
            EXPECT_LT(PlaneGrey(low - 0.01f, low, high), PlaneGrey(high + 0.01f, low, high));
        }
    for (const auto& [a, b] : {std::pair{5.0f, 5.0f}, {NAN, 10.0f}, {9.0f, 2.0f}}) {
        low = a, high = b;
        FitGreyWindow(&low, &high);
        EXPECT_TRUE(low == 0.0f && high == 4095.0f) << "no window: the whole range, not " << a << ".." << b;
    }
    low = 300.0f, high = 900.0f;
    FitGreyWindow(&low, &high);
    EXPECT_TRUE(low == 300.0f && high == 900.0f) << "a window that is one stays";
    // A new volume's values: kept where some fall inside it, else reset.
    std::vector<uint32_t> counts(4096, 0);
    counts[100] = counts[2000] = 7;
    FitGreyWindow(&low, &high, counts.data(), counts.size());
    EXPECT_TRUE(low == 300.0f && high == 900.0f) << "values on both sides of it still differ";
    counts[100] = 0;
    FitGreyWindow(&low, &high, counts.data(), counts.size());
    EXPECT_TRUE(low == 0.0f && high == 4095.0f) << "every value above it: one white";
}

}  // namespace
