// The vertex formats the shaders read: tightly packed little-endian floats.
// Plain data, so that the geometry can be computed without a device.
#pragma once

struct TexVertex {
    float x, y, z;
    float u, v;
};
struct ColorVertex {
    float x, y, z;
    float r, g, b, a;
};
struct VolumeVertex {
    float x, y, z;
    float u, v, w;
};
static_assert(sizeof(TexVertex) == 20 && sizeof(ColorVertex) == 28 && sizeof(VolumeVertex) == 24);
