#include "slicing/slice_cut.h"

#include <cmath>

namespace {

struct Point3 {
    float x, y, z;
};

// Box edges in the order they are tested: from corner a (on the - side of the
// axis) to corner b, the axis (0 x, 1 y, 2 z) and the texture coordinate of the
// two fixed axes.
struct Edge {
    int a, b, axis;
    float u, v, w;  // the cut parameter t replaces the coordinate of `axis`
};
constexpr Edge kEdges[12] = {
    {0, 4, 0, 0, 0, 0}, {2, 6, 0, 0, 1, 0}, {1, 5, 0, 0, 0, 1}, {3, 7, 0, 0, 1, 1},
    {0, 2, 1, 0, 0, 0}, {4, 6, 1, 1, 0, 0}, {1, 3, 1, 0, 0, 1}, {5, 7, 1, 1, 0, 1},
    {0, 1, 2, 0, 0, 0}, {4, 5, 2, 1, 0, 0}, {2, 3, 2, 0, 1, 0}, {6, 7, 2, 1, 1, 0},
};

Point3 Transform(const d3dx::Matrix& m, float x, float y, float z) {
    d3dx::Vector3 in{x, y, z};
    d3dx::Vector4 out;
    d3dx::Vec3Transform(&out, &in, &m);
    return {out.x, out.y, out.z};
}

}  // namespace

bool CropBox::Whole() const {
    for (int axis = 0; axis < 3; ++axis) {
        if (low[axis] != 0.0f || high[axis] != 1.0f)
            return false;
    }
    return true;
}

bool CropBox::Empty() const {
    for (int axis = 0; axis < 3; ++axis) {
        if (!(low[axis] < high[axis]))
            return true;
    }
    return false;
}

SliceCut CutSlices(const d3dx::Matrix& view, float hx, float hy, float hz, VolumeVertex* vertices,
                   uint32_t* indices) {
    return CutSlices(view, hx, hy, hz, CropBox{}, vertices, indices);
}

SliceCut CutSlices(const d3dx::Matrix& view, float hx, float hy, float hz, const CropBox& crop,
                   VolumeVertex* vertices, uint32_t* indices) {
    if (crop.Empty())
        return {};
    // Corner c = 4 ix + 2 iy + iz, in view space: the whole box's, which set
    // the planes' depths, and the kept part's, which the planes cut.
    const float half[3] = {hx, hy, hz};
    Point3 corners[8], whole[8];
    for (int c = 0; c < 8; ++c) {
        const int ix = (c >> 2) & 1, iy = (c >> 1) & 1, iz = c & 1;
        whole[c] = Transform(view, (2 * ix - 1) * hx, (2 * iy - 1) * hy, (2 * iz - 1) * hz);
        // -h + f 2h is exactly -h and h at the fractions 0 and 1, so the whole
        // crop cuts the very box the planes were spaced over.
        float at[3];
        for (int axis = 0; axis < 3; ++axis) {
            const int i = axis == 0 ? ix : axis == 1 ? iy : iz;
            at[axis] = -half[axis] + (i ? crop.high[axis] : crop.low[axis]) * (2.0f * half[axis]);
        }
        corners[c] = Transform(view, at[0], at[1], at[2]);
    }
    const Point3 axisVectors[3] = {
        {corners[4].x - corners[0].x, corners[4].y - corners[0].y, corners[4].z - corners[0].z},
        {corners[2].x - corners[0].x, corners[2].y - corners[0].y, corners[2].z - corners[0].z},
        {corners[1].x - corners[0].x, corners[1].y - corners[0].y, corners[1].z - corners[0].z},
    };
    float zmin = whole[0].z, zmax = whole[0].z;
    for (const Point3& c : whole) {
        if (c.z < zmin)
            zmin = c.z;
        if (c.z > zmax)
            zmax = c.z;
    }
    const float delta = (zmax - zmin) / 501.0f;

    // Each edge as flat data: its depth range, its start, the axis vector and
    // the fixed texture coordinates. A plane cuts an edge exactly when its
    // depth lies strictly between the edge's ends, which is what the sign test
    // (V - Cb.z)(V - Ca.z) < 0 says: differences of floats this size are zero
    // only when the values are equal, and never small enough to underflow.
    struct FlatEdge {
        float lo, hi;
        Point3 a, d;
        int axis;
        float u, v, w;
    };
    FlatEdge edges[12];
    // Texture coordinates of the kept part: t runs from low to high along the
    // cut axis (exactly t for the whole box), and the fixed 0 and 1 are the
    // crop's low and high.
    auto fixed = [&](int axis, float corner) { return corner == 0.0f ? crop.low[axis] : crop.high[axis]; };
    const float span[3] = {crop.high[0] - crop.low[0], crop.high[1] - crop.low[1],
                           crop.high[2] - crop.low[2]};
    for (int i = 0; i < 12; ++i) {
        const Edge& e = kEdges[i];
        const Point3& ca = corners[e.a];
        const Point3& cb = corners[e.b];
        edges[i] = {std::fmin(ca.z, cb.z), std::fmax(ca.z, cb.z), ca,           axisVectors[e.axis], e.axis,
                    fixed(0, e.u),         fixed(1, e.v),         fixed(2, e.w)};
    }

    SliceCut cut;
    for (int s = kSliceCount; s >= 1; --s) {
        const float depth = static_cast<float>(s) * delta + zmin;
        int crossed[12];
        int n = 0;
        for (int i = 0; i < 12; ++i) {
            if (depth > edges[i].lo && depth < edges[i].hi)
                crossed[n++] = i;
        }
        // A convex section has at most six points; rounding near a corner could
        // in principle produce more crossings, and such a plane is skipped.
        if (n > 6)
            continue;
        if (cut.vertexCount + n > kSliceVertexCapacity)
            break;

        const uint32_t k = cut.vertexCount;
        VolumeVertex* points = vertices + k;
        for (int i = 0; i < n; ++i) {
            const FlatEdge& e = edges[crossed[i]];
            const float t = (depth - e.a.z) / e.d.z;
            VolumeVertex& p = points[i];
            p.x = e.a.x + t * e.d.x;
            p.y = e.a.y + t * e.d.y;
            p.z = e.a.z + t * e.d.z;
            p.u = e.axis == 0 ? crop.low[0] + t * span[0] : e.u;
            p.v = e.axis == 1 ? crop.low[1] + t * span[1] : e.v;
            p.w = e.axis == 2 ? crop.low[2] + t * span[2] : e.w;
        }
        cut.vertexCount += static_cast<uint32_t>(n);
        if (n < 3)
            continue;

        // Order the other points counter-clockwise about P0 (insertion sort,
        // stable for parallel directions), then fan from P0.
        float rx[6], ry[6];
        int order[6];
        for (int i = 0; i < n; ++i) {
            order[i] = i;
            rx[i] = points[i].x - points[0].x;
            ry[i] = points[i].y - points[0].y;
        }
        for (int i = 2; i < n; ++i) {
            for (int j = i; j > 1; --j) {
                const int b = order[j], a = order[j - 1];
                if (!(rx[b] * ry[a] - ry[b] * rx[a] > 0))
                    break;
                order[j] = a;
                order[j - 1] = b;
            }
        }
        for (int j = 1; j + 1 < n; ++j) {
            indices[cut.indexCount++] = k;
            indices[cut.indexCount++] = k + static_cast<uint32_t>(order[j]);
            indices[cut.indexCount++] = k + static_cast<uint32_t>(order[j + 1]);
        }
    }
    return cut;
}
