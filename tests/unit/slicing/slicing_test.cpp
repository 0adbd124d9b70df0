// Orbit camera maths and the view-aligned slice cutting, without a device.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "slicing/orbit_view.h"
#include "slicing/slice_cut.h"

namespace {

struct Slices {
    std::vector<VolumeVertex> vertices = std::vector<VolumeVertex>(kSliceVertexCapacity);
    std::vector<uint32_t> indices = std::vector<uint32_t>(kSliceIndexCapacity);
    SliceCut cut;
};

Slices Cut(float pitch, float yaw, float distance, float hx, float hy, float hz) {
    Slices s;
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(pitch, yaw, distance, &view, &light);
    s.cut = CutSlices(view, hx, hy, hz, s.vertices.data(), s.indices.data());
    return s;
}

void ExpectRow(const d3dx::Matrix& m, int row, float a, float b, float c, float d) {
    EXPECT_NEAR(m.m[row][0], a, 1e-5) << "row " << row;
    EXPECT_NEAR(m.m[row][1], b, 1e-5) << "row " << row;
    EXPECT_NEAR(m.m[row][2], c, 1e-5) << "row " << row;
    EXPECT_NEAR(m.m[row][3], d, 1e-5) << "row " << row;
}

TEST(OrbitCameraTest, StartOrientationGivesTheKnownView) {
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(1.0f, 0.0f, 4.0f, &view, &light);
    ExpectRow(view, 0, 1, 0, 0, 0);
    ExpectRow(view, 1, 0, 0.540302f, -0.841471f, 0);
    ExpectRow(view, 2, 0, 0.841471f, 0.540302f, 0);
    ExpectRow(view, 3, 0, 0, 4, 1);
    EXPECT_FLOAT_EQ(light.z, 1.0f);
}

TEST(OrbitCameraTest, LevelViewIsATranslationAndPitchPiTurnsThePictureOver) {
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(0.0f, 0.0f, 2.5f, &view, &light);
    ExpectRow(view, 0, 1, 0, 0, 0);
    ExpectRow(view, 1, 0, 1, 0, 0);
    ExpectRow(view, 2, 0, 0, 1, 0);
    ExpectRow(view, 3, 0, 0, 2.5f, 1);

    ComputeOrbitView(3.14159265f, 0.7f, 3.0f, &view, &light);
    EXPECT_TRUE(std::isfinite(view.m[0][0]) && std::isfinite(view.m[3][2]));
    EXPECT_NEAR(view.m[1][1], -1.0f, 1e-5) << "object y points down the screen";
    EXPECT_NEAR(view.m[3][2], 3.0f, 1e-5) << "the centre stays at the distance";
    for (float pitch : {0.0f, 1.0f, 2.0f, -4.0f})
        for (float yaw : {0.0f, 0.5f, 3.0f}) {
            ComputeOrbitView(pitch, yaw, 7.0f, &view, &light);
            EXPECT_FLOAT_EQ(light.x, 0.0f);
            EXPECT_FLOAT_EQ(light.y, 0.0f);
            EXPECT_FLOAT_EQ(light.z, 1.0f);
            EXPECT_FLOAT_EQ(light.w, 0.0f);
        }
}

TEST(SliceCuttingTest, LevelViewCutsFourZEdgesPerPlane) {
    Slices s = Cut(0.0f, 0.0f, 4.0f, 0.5f, 0.5f, 0.5f);
    ASSERT_EQ(s.cut.vertexCount, 2000u);
    ASSERT_EQ(s.cut.indexCount, 3000u);
    const uint32_t firstPlane[6] = {0, 1, 3, 0, 3, 2};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s.indices[i], firstPlane[i]) << "index " << i;
    // Farthest plane first: plane s = 500 at texture depth w = 500 / 501.
    for (int plane = 0; plane < 500; ++plane) {
        const float w = static_cast<float>(500 - plane) / 501.0f;
        const VolumeVertex* p = &s.vertices[plane * 4];
        const float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(p[k].u, uv[k][0]);
            EXPECT_EQ(p[k].v, uv[k][1]);
            ASSERT_NEAR(p[k].w, w, 2e-6) << "plane " << plane;
        }
    }
}

// A plane through corners crosses none of their edges: an edge is cut only
// when the plane's depth lies strictly between its ends. A crafted view puts
// the corners at depths 0, 1, 500 and 501 exactly, so the plane spacing is 1
// and planes 1 and 500 pass through corners.
TEST(SliceCuttingTest, APlaneThroughCornersCrossesNoneOfTheirEdges) {
    d3dx::Matrix view{};
    view.m[0][0] = 1.0f;    // x stays x
    view.m[1][1] = 1.0f;    // y stays y
    view.m[0][2] = 1.0f;    // depth = x + 500 y + 250.5: x edges span 1,
    view.m[1][2] = 500.0f;  // y edges 500, z edges nothing
    view.m[3][2] = 250.5f;
    view.m[3][3] = 1.0f;
    Slices s;
    s.cut = CutSlices(view, 0.5f, 0.5f, 0.5f, s.vertices.data(), s.indices.data());
    // Planes 2..499 cross the four y edges; planes 500 and 1 lie on corners
    // and cross only the two y edges whose ends are not on them.
    EXPECT_EQ(s.cut.vertexCount, 498u * 4u + 2u + 2u);
    EXPECT_EQ(s.cut.indexCount, 498u * 6u) << "two-point sections make no triangles";
    const VolumeVertex* farthest = &s.vertices[0];
    for (int k = 0; k < 2; ++k)
        EXPECT_FLOAT_EQ(farthest[k].z, 500.0f) << "plane 500 comes first";
}

TEST(SliceCuttingTest, PlanesRunFromFarToNearStrictlyInsideTheBox) {
    Slices s = Cut(1.0f, 0.0f, 4.0f, 0.5f, 0.5f, 0.25f);
    ASSERT_EQ(s.cut.vertexCount, 2000u) << "the start orientation cuts four points per plane";
    ASSERT_EQ(s.cut.indexCount, 3000u);
    // Depth of the first and last planes: one gap inside the extreme corners.
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(1.0f, 0.0f, 4.0f, &view, &light);
    float zmin = 1e9f, zmax = -1e9f;
    for (int c = 0; c < 8; ++c) {
        d3dx::Vector3 corner{(c & 4 ? 0.5f : -0.5f), (c & 2 ? 0.5f : -0.5f), (c & 1 ? 0.25f : -0.25f)};
        d3dx::Vector4 out;
        d3dx::Vec3Transform(&out, &corner, &view);
        zmin = std::fmin(zmin, out.z);
        zmax = std::fmax(zmax, out.z);
    }
    const float gap = (zmax - zmin) / 501.0f;
    EXPECT_NEAR(s.vertices[0].z, zmax - gap, 1e-4) << "the farthest plane comes first";
    EXPECT_NEAR(s.vertices[s.cut.vertexCount - 1].z, zmin + gap, 1e-4) << "the nearest plane comes last";
    for (uint32_t i = 4; i < s.cut.vertexCount; i += 4)
        ASSERT_LT(s.vertices[i].z, s.vertices[i - 4].z) << "depth falls plane by plane";
}

// A general orientation: 3 to 6 points per plane, each fan inside its own
// plane and wound one way, texture coordinates on the box's surface.
TEST(SliceCuttingTest, GeneralOrientationGivesConvexFansOnTheBoxSurface) {
    Slices s = Cut(0.63f, 2.1f, 3.0f, 0.5f, 0.37f, 0.21f);
    ASSERT_GT(s.cut.indexCount, 0u);
    ASSERT_LE(s.cut.vertexCount, kSliceVertexCapacity);
    for (uint32_t i = 0; i < s.cut.vertexCount; ++i) {
        const VolumeVertex& p = s.vertices[i];
        int onFace = 0;
        for (float c : {p.u, p.v, p.w}) {
            ASSERT_GE(c, 0.0f);
            ASSERT_LE(c, 1.0f);
            onFace += (c == 0.0f || c == 1.0f);
        }
        ASSERT_GE(onFace, 2) << "vertex " << i << " lies on a box edge";
    }
    int pointCounts[7] = {};
    for (uint32_t t = 0; t < s.cut.indexCount; t += 3) {
        const VolumeVertex& a = s.vertices[s.indices[t]];
        const VolumeVertex& b = s.vertices[s.indices[t + 1]];
        const VolumeVertex& c = s.vertices[s.indices[t + 2]];
        ASSERT_NEAR(a.z, b.z, 1e-4) << "triangle " << t / 3 << " stays in one plane";
        ASSERT_NEAR(a.z, c.z, 1e-4) << "triangle " << t / 3 << " stays in one plane";
        const float cross = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        ASSERT_GE(cross, -1e-6f) << "triangle " << t / 3 << " is wound counter-clockwise like its fan";
    }
    // Count points per plane by grouping equal depths.
    uint32_t start = 0;
    for (uint32_t i = 1; i <= s.cut.vertexCount; ++i) {
        if (i == s.cut.vertexCount || std::fabs(s.vertices[i].z - s.vertices[start].z) > 1e-5f) {
            const uint32_t n = i - start;
            ASSERT_GE(n, 1u);
            ASSERT_LE(n, 6u);
            ++pointCounts[n];
            start = i;
        }
    }
    EXPECT_GT(pointCounts[3] + pointCounts[5] + pointCounts[6], 0) << "a tilted box gives more than quads";
}

}  // namespace
