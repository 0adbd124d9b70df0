// The Slices menu's planes as plain data: where they start, how they move
// and stop at the grid's ends, what a new grid makes of them, and the
// status line's text.
#include "render/slice_planes.h"

#include <gtest/gtest.h>

#include <cmath>

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
// along its line of sight from the eye, on the screen where the projection
// puts it.
struct Scene {
    PlaneCamera camera;
    uint32_t dims[3] = {10, 8, 6};
    Scene() {
        d3dx::Vector4 light;
        ComputeOrbitView(0.5f, 0.6f, 2.5f, &camera.view, &light);
        d3dx::MatrixPerspectiveFovLH(&camera.projection, 0.7855f, 400.0f / 300.0f, 0.01f, 1000.0f);
        camera.width = 400;
        camera.height = 300;
        const float half[3] = {0.5f, 0.4f, 0.3f};
        for (int j = 0; j < 3; ++j)
            camera.halfExtents[j] = half[j];
    }
    d3dx::Vector3 Object(const float u[3]) const {
        const float* h = camera.halfExtents;
        return {(2 * u[0] - 1) * h[0], (2 * u[1] - 1) * h[1], (2 * u[2] - 1) * h[2]};
    }
    // The client pixel whose centre lies nearest the texture position u.
    void Pixel(const float u[3], int32_t* x, int32_t* y) const {
        const d3dx::Vector3 o = Object(u);
        d3dx::Vector4 v, clip;
        d3dx::Vec3Transform(&v, &o, &camera.view);
        const d3dx::Vector3 view{v.x, v.y, v.z};
        d3dx::Vec3Transform(&clip, &view, &camera.projection);
        *x = static_cast<int32_t>(std::floor((clip.x / clip.w + 1) * 0.5f * camera.width));
        *y = static_cast<int32_t>(std::floor((1 - clip.y / clip.w) * 0.5f * camera.height));
    }
    // The eye in texture positions: the view's translation taken back
    // through its rotation.
    void Eye(float u[3]) const {
        const d3dx::Matrix& m = camera.view;
        for (int j = 0; j < 3; ++j) {
            const float o = -(m.m[3][0] * m.m[j][0] + m.m[3][1] * m.m[j][1] + m.m[3][2] * m.m[j][2]);
            u[j] = (o / camera.halfExtents[j] + 1) * 0.5f;
        }
    }
};

TEST(PlaneUnderCursor, PicksThePointOfEachPlaneWhereTheScreenShowsIt) {
    const Scene scene;
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
            int32_t x, y;
            scene.Pixel(u, &x, &y);
            const std::optional<PlaneHit> hit = PlaneUnderCursor(scene.camera, planes, scene.dims, x, y);
            ASSERT_TRUE(hit) << "axis " << axis << " at pixel " << x << "," << y;
            EXPECT_EQ(hit->axis, axis);
            EXPECT_EQ(hit->voxel[axis], 3);
            EXPECT_EQ(hit->voxel[a], va) << "axis " << axis;
            EXPECT_EQ(hit->voxel[b], vb) << "axis " << axis;
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(hit->position[k], u[k], 0.02f);
        }
        planes.shown[axis] = false;
        float centre[3] = {0.5f, 0.5f, 0.5f};
        int32_t x, y;
        scene.Pixel(centre, &x, &y);
        EXPECT_FALSE(PlaneUnderCursor(scene.camera, planes, scene.dims, x, y))
            << "a hidden plane is not there";
        planes.shown[axis] = true;
        planes.index[axis] = static_cast<int32_t>(scene.dims[axis]);
        EXPECT_FALSE(PlaneUnderCursor(scene.camera, planes, scene.dims, x, y)) << "nor one past the grid";
    }
    SlicePlanes all;
    for (int axis = 0; axis < 3; ++axis) {
        all.shown[axis] = true;
        all.index[axis] = 2;
    }
    EXPECT_FALSE(PlaneUnderCursor(scene.camera, all, scene.dims, 0, 0)) << "the corner shows no box";
    EXPECT_FALSE(PlaneUnderCursor(scene.camera, all, scene.dims, -1, 5000));
    PlaneCamera noProjection = scene.camera;
    noProjection.projection = d3dx::Matrix{};
    EXPECT_FALSE(PlaneUnderCursor(noProjection, all, scene.dims, 200, 150)) << "no projection yet: no plane";
}

TEST(PlaneUnderCursor, TheNearestPlaneInsideTheCropIsPicked) {
    Scene scene;
    SlicePlanes planes;
    planes.shown[0] = planes.shown[2] = true;
    planes.index[0] = 6;
    planes.index[2] = 3;
    const float atX = PlaneTexturePosition(6, scene.dims[0]), atZ = PlaneTexturePosition(3, scene.dims[2]);
    float eye[3];
    scene.Eye(eye);
    // Points of the x plane; the line from the eye to each meets the z
    // plane at q, in front of the point or behind it.
    int inFront = 0, behind = 0;
    for (float v = 0.1f; v < 0.95f; v += 0.2f) {
        for (float w = 0.1f; w < 0.95f; w += 0.2f) {
            const float p[3] = {atX, v, w};
            const float t = (atZ - eye[2]) / (p[2] - eye[2]);
            float q[3];
            for (int k = 0; k < 3; ++k)
                q[k] = eye[k] + t * (p[k] - eye[k]);
            q[2] = atZ;
            const bool qInBox = q[0] > 0.05f && q[0] < 0.95f && q[1] > 0.05f && q[1] < 0.95f;
            const bool qNearer = t > 0 && t < 1;
            // Clear of the layers' edges, where a pixel's rounding decides.
            if (std::fabs(t - 1) < 0.05f || std::fabs(w - atZ) < 0.1f ||
                (!qInBox && (q[0] > 0 && q[0] < 1 && q[1] > 0 && q[1] < 1)))
                continue;
            int32_t x, y;
            scene.Pixel(p, &x, &y);
            const std::optional<PlaneHit> hit = PlaneUnderCursor(scene.camera, planes, scene.dims, x, y);
            ASSERT_TRUE(hit);
            const int expected = qInBox && qNearer ? 2 : 0;
            EXPECT_EQ(hit->axis, expected) << "x plane point " << v << "," << w;
            if (expected == 2) {
                ++inFront;
                EXPECT_EQ(hit->voxel[2], 3);
                EXPECT_NEAR(hit->position[0], q[0], 0.02f);
                EXPECT_NEAR(hit->position[1], q[1], 0.02f);
                // Cropped away, the z plane's part there shows the x plane behind.
                PlaneCamera cropped = scene.camera;
                cropped.cropLow[0] = std::min(q[0] + 0.04f, atX - 0.01f);
                if (q[0] + 0.04f < atX) {
                    const std::optional<PlaneHit> behindCrop =
                        PlaneUnderCursor(cropped, planes, scene.dims, x, y);
                    ASSERT_TRUE(behindCrop);
                    EXPECT_EQ(behindCrop->axis, 0) << "a plane's part outside the crop hides nothing";
                }
            } else {
                ++behind;
                EXPECT_EQ(hit->voxel[0], 6);
            }
        }
    }
    EXPECT_GT(inFront, 0) << "the view shows the z plane in front of the x plane somewhere";
    EXPECT_GT(behind, 0) << "and the x plane in front of the z plane somewhere";
    // A plane's layer outside the crop is not drawn at all.
    scene.camera.cropHigh[0] = atX - 0.05f;
    const float p[3] = {atX, 0.5f, 0.9f};
    int32_t x, y;
    scene.Pixel(p, &x, &y);
    const std::optional<PlaneHit> hit = PlaneUnderCursor(scene.camera, planes, scene.dims, x, y);
    EXPECT_TRUE(!hit || hit->axis == 2);
}

TEST(GreyWindow, ADragWidensNarrowsAndMovesItNeverToNothing) {
    float low = 0, high = 0;
    DragGreyWindow(1000.0f, 2000.0f, 0, 0, &low, &high);
    EXPECT_FLOAT_EQ(low, 1000.0f) << "no offset: the window it started from";
    EXPECT_FLOAT_EQ(high, 2000.0f);
    DragGreyWindow(1000.0f, 2000.0f, 10, 0, &low, &high);
    EXPECT_GT(high - low, 1000.0f) << "to the right: wider";
    EXPECT_FLOAT_EQ((low + high) * 0.5f, 1500.0f) << "at the same level";
    DragGreyWindow(1000.0f, 2000.0f, 0, 10, &low, &high);
    EXPECT_FLOAT_EQ(high - low, 1000.0f);
    EXPECT_GT(low, 1000.0f) << "down: a higher level";
    for (const auto& [dx, dy] : {std::pair{-100000, 0},
                                 {-100000, -100000},
                                 {-100000, 100000},
                                 {100000, 100000},
                                 {100000, -100000}}) {
        DragGreyWindow(1000.0f, 2000.0f, dx, dy, &low, &high);
        EXPECT_GE(high - low, kGreyMinWidth) << dx << "," << dy;
        EXPECT_LE(high - low, kGreyMaxWidth);
        EXPECT_GE((low + high) * 0.5f, 0.0f);
        EXPECT_LE((low + high) * 0.5f, kGreyMaxLevel);
        // The narrowest window still tells a value below it from one above.
        EXPECT_LT(PlaneGrey(low - 0.01f, low, high), PlaneGrey(high + 0.01f, low, high));
    }
    low = 5.0f, high = 5.0f;
    FitGreyWindow(&low, &high);
    EXPECT_FLOAT_EQ(low, 0.0f) << "an empty window becomes the whole range";
    EXPECT_FLOAT_EQ(high, 4095.0f);
    low = NAN;
    FitGreyWindow(&low, &high);
    EXPECT_FLOAT_EQ(low, 0.0f);
    low = 300.0f, high = 900.0f;
    FitGreyWindow(&low, &high);
    EXPECT_FLOAT_EQ(low, 300.0f) << "a window that is one stays";
    EXPECT_FLOAT_EQ(high, 900.0f);
}

}  // namespace
