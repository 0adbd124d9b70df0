#include "platform/d3dx/d3dx_math.h"

#include <cmath>

namespace d3dx {
namespace {

Vector3 Sub(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

Vector3 Cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// D3DX leaves a zero-length vector as it is rather than producing NaNs.
Vector3 Normalize(const Vector3& v) {
    float length = std::sqrt(Dot(v, v));
    if (length == 0.0f)
        return v;
    return {v.x / length, v.y / length, v.z / length};
}

Matrix* Rows(Matrix* out, const float (&r)[16]) {
    for (int i = 0; i < 16; ++i)
        out->m[i / 4][i % 4] = r[i];
    return out;
}

}  // namespace

Matrix* MatrixLookAtLH(Matrix* out, const Vector3* eye, const Vector3* at, const Vector3* up) {
    Vector3 z = Normalize(Sub(*at, *eye));
    Vector3 x = Normalize(Cross(*up, z));
    Vector3 y = Cross(z, x);
    return Rows(out, {x.x, y.x, z.x, 0,  //
                      x.y, y.y, z.y, 0,  //
                      x.z, y.z, z.z, 0,  //
                      -Dot(x, *eye), -Dot(y, *eye), -Dot(z, *eye), 1});
}

Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zNear, float zFar) {
    float ys = 1.0f / std::tan(fovY / 2.0f);
    float xs = ys / aspect;
    float q = zFar / (zFar - zNear);
    return Rows(out, {xs, 0, 0, 0,  //
                      0, ys, 0, 0,  //
                      0, 0, q, 1,   //
                      0, 0, -zNear * q, 0});
}

Matrix* MatrixOrthoLH(Matrix* out, float width, float height, float zNear, float zFar) {
    return Rows(out, {2.0f / width, 0, 0, 0,           //
                      0, 2.0f / height, 0, 0,          //
                      0, 0, 1.0f / (zFar - zNear), 0,  //
                      0, 0, zNear / (zNear - zFar), 1});
}

Matrix* MatrixRotationX(Matrix* out, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    return Rows(out, {1, 0, 0, 0,   //
                      0, c, s, 0,   //
                      0, -s, c, 0,  //
                      0, 0, 0, 1});
}

Matrix* MatrixRotationY(Matrix* out, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    return Rows(out, {c, 0, -s, 0,  //
                      0, 1, 0, 0,   //
                      s, 0, c, 0,   //
                      0, 0, 0, 1});
}

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    // Computed into a temporary because out may be a or b.
    Matrix r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                        a->m[i][3] * b->m[3][j];
        }
    }
    *out = r;
    return out;
}

Matrix* MatrixTranslation(Matrix* out, float x, float y, float z) {
    return Rows(out, {1, 0, 0, 0,  //
                      0, 1, 0, 0,  //
                      0, 0, 1, 0,  //
                      x, y, z, 1});
}

Matrix* MatrixTranspose(Matrix* out, const Matrix* m) {
    Matrix r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = m->m[j][i];
    }
    *out = r;
    return out;
}

Matrix* MatrixIdentity(Matrix* out) {
    return MatrixTranslation(out, 0, 0, 0);
}

Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m) {
    const float in[4] = {v->x, v->y, v->z, 1.0f};
    float r[4];
    for (int j = 0; j < 4; ++j)
        r[j] = in[0] * m->m[0][j] + in[1] * m->m[1][j] + in[2] * m->m[2][j] + in[3] * m->m[3][j];
    *out = {r[0], r[1], r[2], r[3]};
    return out;
}

Vector4* Vec4Normalize(Vector4* out, const Vector4* v) {
    float length = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z + v->w * v->w);
    if (length == 0.0f) {
        *out = {0, 0, 0, 0};
        return out;
    }
    *out = {v->x / length, v->y / length, v->z / length, v->w / length};
    return out;
}

}  // namespace d3dx
