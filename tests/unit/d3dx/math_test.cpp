#include <gtest/gtest.h>

#include <cmath>

#include "platform/d3dx/d3dx_math.h"

namespace {

using d3dx::Matrix;
using d3dx::Vector3;
using d3dx::Vector4;

constexpr float kTol = 1e-5f;

void ExpectRows(const Matrix& m, const float (&rows)[4][4], const char* what) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(m.m[i][j], rows[i][j], kTol) << what << " [" << i << "][" << j << "]";
    }
}

Vector4 Transform(const Vector3& v, const Matrix& m) {
    Vector4 out;
    d3dx::Vec3Transform(&out, &v, &m);
    return out;
}

// The orbit camera's steps: eye and up rotated by pitch then yaw, then a view
// matrix looking at the origin.
TEST(D3dxMath, OrbitCameraKnownValues) {
    Matrix rx, ry, m;
    d3dx::MatrixRotationX(&rx, 1.0f);
    d3dx::MatrixRotationY(&ry, 0.0f);
    d3dx::MatrixMultiply(&m, &rx, &ry);

    Vector4 eye = Transform({0, 0, -4}, m);
    EXPECT_NEAR(eye.x, 0.0f, kTol);
    EXPECT_NEAR(eye.y, 3.365884f, kTol) << "eye y";
    EXPECT_NEAR(eye.z, -2.161209f, kTol) << "eye z";
    EXPECT_NEAR(eye.w, 1.0f, kTol) << "a point keeps w = 1 through a rigid transform";
    Vector4 up = Transform({0, 1, 0}, m);
    EXPECT_NEAR(up.y, 0.540302f, kTol) << "up y";
    EXPECT_NEAR(up.z, 0.841471f, kTol) << "up z";

    Matrix view;
    Vector3 eye3{eye.x, eye.y, eye.z}, at{0, 0, 0}, up3{up.x, up.y, up.z};
    d3dx::MatrixLookAtLH(&view, &eye3, &at, &up3);
    ExpectRows(view,
               {{1, 0, 0, 0}, {0, 0.540302f, -0.841471f, 0}, {0, 0.841471f, 0.540302f, 0}, {0, 0, 4, 1}},
               "LookAtLH at pitch 1");

    Vector4 origin = Transform(at, view);
    EXPECT_NEAR(origin.z, 4.0f, kTol) << "the target lies the orbit distance ahead";
}

TEST(D3dxMath, LookAtWithoutRotationIsATranslation) {
    Vector3 eye{0, 0, -2.5f}, at{0, 0, 0}, up{0, 1, 0};
    Matrix view;
    d3dx::MatrixLookAtLH(&view, &eye, &at, &up);
    ExpectRows(view, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 2.5f, 1}}, "pitch 0 yaw 0");
}

TEST(D3dxMath, OrthoMapsTheViewportCornerToClipCorner) {
    Matrix ortho;
    d3dx::MatrixOrthoLH(&ortho, 800, 600, 0.01f, 1000.0f);
    Vector4 p = Transform({400, 300, 1}, ortho);
    EXPECT_NEAR(p.x, 1.0f, kTol);
    EXPECT_NEAR(p.y, 1.0f, kTol);
    EXPECT_NEAR(p.z, 0.00099001f, 1e-7f) << "depth (1 - zn) / (zf - zn)";
    EXPECT_NEAR(p.w, 1.0f, kTol);
    EXPECT_NEAR(Transform({0, 0, 0.01f}, ortho).z, 0.0f, 1e-7f) << "near plane at depth 0";
    EXPECT_NEAR(Transform({0, 0, 1000.0f}, ortho).z, 1.0f, kTol) << "far plane at depth 1";
}

TEST(D3dxMath, PerspectiveFovValuesAndDepthRange) {
    Matrix proj;
    const float zn = 0.1f, zf = 100.0f;
    d3dx::MatrixPerspectiveFovLH(&proj, 0.7855f, 800.0f / 600.0f, zn, zf);
    // cot(0.39275) computed independently.
    EXPECT_NEAR(proj.m[1][1], 2.4138659f, kTol) << "y scale";
    EXPECT_NEAR(proj.m[0][0], 1.8103994f, kTol) << "x scale = y scale / aspect";
    EXPECT_EQ(proj.m[2][3], 1.0f) << "w takes view-space z";
    EXPECT_EQ(proj.m[3][3], 0.0f);
    Vector4 nearP = Transform({0, 0, zn}, proj), farP = Transform({0, 0, zf}, proj);
    EXPECT_NEAR(nearP.z / nearP.w, 0.0f, 1e-6f) << "near plane at depth 0";
    EXPECT_NEAR(farP.z / farP.w, 1.0f, 1e-6f) << "far plane at depth 1";
}

TEST(D3dxMath, MultiplyAppliesTheLeftMatrixFirstAndMayAlias) {
    Matrix t, r, tr, rt;
    d3dx::MatrixTranslation(&t, 1, 2, 3);
    d3dx::MatrixRotationY(&r, static_cast<float>(M_PI / 2));
    d3dx::MatrixMultiply(&tr, &t, &r);
    d3dx::MatrixMultiply(&rt, &r, &t);
    // Translate to (1,2,3), then turn left-handedly: +x goes to -z.
    Vector4 a = Transform({0, 0, 0}, tr);
    EXPECT_NEAR(a.x, 3.0f, kTol);
    EXPECT_NEAR(a.z, -1.0f, kTol);
    Vector4 b = Transform({0, 0, 0}, rt);  // rotate the origin (no-op), then translate
    EXPECT_NEAR(b.x, 1.0f, kTol);
    EXPECT_NEAR(b.z, 3.0f, kTol);

    Matrix alias = t;
    d3dx::MatrixMultiply(&alias, &alias, &r);
    ExpectRows(alias, tr.m, "out aliasing the first factor");
    alias = r;
    d3dx::MatrixMultiply(&alias, &t, &alias);
    ExpectRows(alias, tr.m, "out aliasing the second factor");
    alias = t;
    d3dx::MatrixMultiply(&alias, &alias, &alias);
    Vector4 twice = Transform({0, 0, 0}, alias);
    EXPECT_NEAR(twice.y, 4.0f, kTol) << "squaring in place";
}

TEST(D3dxMath, TransposeInPlaceAndIdentity) {
    Matrix m;
    for (int i = 0; i < 16; ++i)
        m.m[i / 4][i % 4] = static_cast<float>(i);
    Matrix t = m;
    d3dx::MatrixTranspose(&t, &t);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(t.m[i][j], m.m[j][i]) << i << "," << j;
    }
    Matrix id, p;
    d3dx::MatrixIdentity(&id);
    d3dx::MatrixMultiply(&p, &m, &id);
    ExpectRows(p, m.m, "m * identity");
}

TEST(D3dxMath, Vec4NormalizeKeepsZero) {
    Vector4 v{3, 0, 4, 0}, out;
    d3dx::Vec4Normalize(&out, &v);
    EXPECT_NEAR(out.x, 0.6f, kTol);
    EXPECT_NEAR(out.z, 0.8f, kTol);
    Vector4 zero{0, 0, 0, 0};
    d3dx::Vec4Normalize(&out, &zero);
    EXPECT_TRUE(out.x == 0 && out.y == 0 && out.z == 0 && out.w == 0) << "zero stays zero, no NaN";
    Vector4 w{0, 0, 0, -2};
    d3dx::Vec4Normalize(&w, &w);
    EXPECT_NEAR(w.w, -1.0f, kTol) << "in place";
}

}  // namespace
