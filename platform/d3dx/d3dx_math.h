// The D3DX matrix and vector functions Tamlo uses, with D3DX's exact formulas:
// 4 x 4 f32 matrices stored row by row, applied to row vectors (v' = v * M),
// left-handed. Each function writes *out and returns out, as D3DX does.
#pragma once

namespace d3dx {

struct Vector3 {
    float x, y, z;
};

struct Vector4 {
    float x, y, z, w;
};

struct Matrix {
    float m[4][4];
};

// zaxis = normalise(at - eye), xaxis = normalise(up x zaxis), yaxis = zaxis x xaxis.
Matrix* MatrixLookAtLH(Matrix* out, const Vector3* eye, const Vector3* at, const Vector3* up);
// ys = cot(fovY / 2), xs = ys / aspect.
Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zNear, float zFar);
Matrix* MatrixOrthoLH(Matrix* out, float width, float height, float zNear, float zFar);
Matrix* MatrixRotationX(Matrix* out, float angle);
Matrix* MatrixRotationY(Matrix* out, float angle);
// a * b: a acts first. out may alias a or b.
Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);
Matrix* MatrixTranslation(Matrix* out, float x, float y, float z);
// out may alias m.
Matrix* MatrixTranspose(Matrix* out, const Matrix* m);
Matrix* MatrixIdentity(Matrix* out);
// (v.x, v.y, v.z, 1) * m, all four components kept.
Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m);
// A zero vector stays zero.
Vector4* Vec4Normalize(Vector4* out, const Vector4* v);

}  // namespace d3dx
