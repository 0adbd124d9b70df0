// Orbit camera maths and the view-aligned slice cutting, without a device.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

// The standard views in the scans' orientation (x to the patient's left, y
// to the head, z to the back). Row i of a view matrix is object axis i in
// view space (right, up, away from the eye): which end of which axis faces
// the eye, and which points up the screen.
TEST(StandardViewTest, EachViewLooksFromItsSideWithTheRightWayUp) {
    const struct {
        const char* name;
        int towardsEye, eyeSign, up, upSign;
    } views[] = {{"front", 2, -1, 1, 1}, {"back", 2, 1, 1, 1}, {"left", 0, 1, 1, 1},
                 {"right", 0, -1, 1, 1}, {"top", 1, 1, 2, -1}, {"bottom", 1, -1, 2, -1}};
    for (const auto& e : views) {
        StandardView view;
        ASSERT_TRUE(StandardViewNamed(e.name, &view)) << e.name;
        const OrbitAngles angles = StandardViewAngles(view);
        d3dx::Matrix m;
        d3dx::Vector4 light;
        ComputeOrbitView(angles.pitch, angles.yaw, 4.0f, &m, &light);
        EXPECT_NEAR(m.m[e.towardsEye][2], -e.eyeSign, 1e-5) << e.name << " looks along its axis";
        EXPECT_NEAR(m.m[e.up][1], e.upSign, 1e-5) << e.name << " is the right way up";
        if (view == StandardView::Front) {
            EXPECT_NEAR(m.m[0][0], 1.0f, 1e-6) << "front: the patient's right on the screen's left";
        }
    }
    StandardView unused;
    EXPECT_FALSE(StandardViewNamed("Front", &unused));
}

// A crop cuts the whole box's planes through the kept part alone: every
// point lies in the kept part with the texture coordinate of its place in the
// whole volume, every slice lies on an uncropped plane, and no plane through
// the kept part is lost. A crop that keeps nothing cuts nothing.
TEST(SliceCuttingTest, ACropCutsTheSamePlanesThroughTheKeptPartOnly) {
    const float half[3] = {0.5f, 0.37f, 0.21f};
    const CropBox crops[] = {{{0, 0, 0}, {0.5f, 1, 1}}, {{0.2f, 0.1f, 0.3f}, {0.7f, 0.95f, 0.6f}}};
    auto planes = [](const Slices& s) {
        std::vector<float> depths;
        for (uint32_t t = 0; t < s.cut.indexCount; t += 3)
            if (t == 0 || s.indices[t] != s.indices[t - 3])
                depths.push_back(s.vertices[s.indices[t]].z);
        return depths;
    };
    for (const CropBox& crop : crops) {
        for (float yaw : {0.0f, 0.9f, 2.1f, 4.0f}) {
            d3dx::Matrix view;
            d3dx::Vector4 light;
            ComputeOrbitView(0.63f, yaw, 3.0f, &view, &light);
            Slices whole, kept;
            whole.cut =
                CutSlices(view, half[0], half[1], half[2], whole.vertices.data(), whole.indices.data());
            kept.cut =
                CutSlices(view, half[0], half[1], half[2], crop, kept.vertices.data(), kept.indices.data());
            float nearest = 1e9f, farthest = -1e9f;  // the kept part's depth range
            for (uint32_t i = 0; i < kept.cut.vertexCount; ++i) {
                const VolumeVertex& p = kept.vertices[i];
                nearest = std::fmin(nearest, p.z);
                farthest = std::fmax(farthest, p.z);
                const float d[3] = {p.x - view.m[3][0], p.y - view.m[3][1], p.z - view.m[3][2]};
                const float texture[3] = {p.u, p.v, p.w};
                for (int a = 0; a < 3; ++a) {  // back to the object: the rotation is orthonormal
                    const float f =
                        ((d[0] * view.m[a][0] + d[1] * view.m[a][1] + d[2] * view.m[a][2]) / half[a] + 1) / 2;
                    ASSERT_NEAR(texture[a], f, 1e-4) << "the texture addresses the whole volume";
                    ASSERT_TRUE(crop.low[a] - 1e-4f <= f && f <= crop.high[a] + 1e-4f)
                        << "inside the kept part";
                }
            }
            const std::vector<float> wholePlanes = planes(whole), cut = planes(kept);
            size_t inside = 0;
            for (float z : wholePlanes)
                inside += z > nearest + 1e-4f && z < farthest - 1e-4f;
            EXPECT_GE(cut.size(), inside) << "no plane through the kept part is lost";
            for (float z : cut)
                ASSERT_TRUE(std::any_of(wholePlanes.begin(), wholePlanes.end(),
                                        [z](float w) { return std::fabs(z - w) < 1e-4f; }))
                    << "slice at depth " << z << " is an uncropped plane";
        }
    }
    Slices none;
    none.cut = CutSlices(d3dx::Matrix{}, 0.5f, 0.5f, 0.5f, CropBox{{0, 0.4f, 0}, {1, 0.4f, 1}},
                         none.vertices.data(), none.indices.data());
    EXPECT_EQ(none.cut.vertexCount + none.cut.indexCount, 0u);
}

}  // namespace

// Pan and zoom as rules about what the window shows: view space through the
// orbit's view, then the projection's scales to the window's -1..1.
namespace {

constexpr ProjectionScale kScale{1.8f, 2.4f};

d3dx::Vector3 Seen(const OrbitCameraRecord& camera, const d3dx::Vector3& object) {
    d3dx::Matrix view;
    d3dx::Vector4 light, v;
    ComputeOrbitView(camera, &view, &light);
    d3dx::Vec3Transform(&v, &object, &view);
    return {v.x * kScale.x / v.z, v.y * kScale.y / v.z, v.z};
}

// The object point on the box centre's view plane under window point (x, y).
d3dx::Vector3 UnderCursor(const OrbitCameraRecord& camera, float x, float y) {
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(camera, &view, &light);
    const float d = camera.distance, at[3] = {x * d / kScale.x, y * d / kScale.y, d};
    d3dx::Vector3 object{};
    float* o = &object.x;
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
            o[j] += (at[k] - view.m[3][k]) * view.m[j][k];  // the rotation's transpose
    return object;
}

}  // namespace

TEST(PanAndZoomTest, ThePointUnderTheCursorStaysThereNotchAfterNotch) {
    OrbitCameraRecord camera{0.7f, -1.9f, 3.0f, 0.2f, -0.1f};
    for (const auto& [x, y] : std::vector<std::pair<float, float>>{{0.5f, 0.5f}, {-0.9f, 0.3f}, {0, 0}}) {
        const d3dx::Vector3 point = UnderCursor(camera, x, y);
        for (float factor : {0.75f, 0.75f, 1.25f, 0.75f}) {
            ZoomTowards(&camera, camera.distance * factor, x, y, kScale);
            const d3dx::Vector3 seen = Seen(camera, point);
            EXPECT_NEAR(seen.x, x, 1e-4) << "at " << x << "," << y << ", distance " << camera.distance;
            EXPECT_NEAR(seen.y, y, 1e-4) << "at " << x << "," << y << ", distance " << camera.distance;
        }
    }
}

TEST(PanAndZoomTest, FitFramesTheBoxOrItsCropCentredAndTight) {
    const float half[3] = {0.5f, 0.4f, 0.25f};
    for (const CropBox& crop : {CropBox{}, CropBox{{0.1f, 0.5f, 0.0f}, {0.4f, 1.0f, 0.3f}}}) {
        OrbitCameraRecord camera{0.6f, 2.2f, 50.0f, 3.0f, -2.0f};
        FitBoxInView(&camera, half, crop.low, crop.high, kScale);
        float most = 0;
        const auto at = [&](int c, int axis) {  // corner c, or the middle for c = -1
            const float f = c < 0             ? 0.5f * (crop.low[axis] + crop.high[axis])
                            : (c >> axis) & 1 ? crop.high[axis]
                                              : crop.low[axis];
            return half[axis] * (2.0f * f - 1.0f);
        };
        for (int c = 0; c < 8; ++c) {
            const d3dx::Vector3 seen = Seen(camera, {at(c, 0), at(c, 1), at(c, 2)});
            most = std::max({most, std::fabs(seen.x), std::fabs(seen.y)});
            EXPECT_GT(seen.z, 0.0f) << "corner " << c << " in front of the eye";
        }
        EXPECT_NEAR(most, 0.9f, 1e-3) << "every corner within the margin, one on it";
        const d3dx::Vector3 middle = Seen(camera, {at(-1, 0), at(-1, 1), at(-1, 2)});
        EXPECT_NEAR(std::hypot(middle.x, middle.y), 0.0f, 1e-4) << "the box's middle at the window's centre";
    }
}
