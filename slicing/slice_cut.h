// View-aligned slice proxy geometry as plain computation: the volume box cut
// by 500 planes of constant view-space depth, each section triangulated as a
// fan.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx_math.h"
#include "render/vertex_formats.h"

inline constexpr int kSliceCount = 500;
inline constexpr uint32_t kSliceVertexCapacity = 3000;
inline constexpr uint32_t kSliceIndexCapacity = 9000;

// The part of the box kept: per axis (x, y, z) the fractions of the box
// from low to high, 0..1; the whole box by default. A crop with low >= high
// on any axis keeps nothing.
struct CropBox {
    float low[3] = {0.0f, 0.0f, 0.0f};
    float high[3] = {1.0f, 1.0f, 1.0f};
    bool Whole() const;
    bool Empty() const;
};

struct SliceCut {
    uint32_t vertexCount = 0;
    uint32_t indexCount = 0;
};

// Cuts the box [-h, h] (per axis) seen through `view` into kSliceCount planes
// and writes their points and fan indices, farthest plane first (so that
// source-over blending composites back to front). `vertices` must hold
// kSliceVertexCapacity entries and `indices` kSliceIndexCapacity.
SliceCut CutSlices(const d3dx::Matrix& view, float halfExtentX, float halfExtentY, float halfExtentZ,
                   VolumeVertex* vertices, uint32_t* indices);
// The same planes (spaced over the whole box's depth, so that a crop moves no
// slice) cut through the cropped part of the box alone; the texture
// coordinates still address the whole volume. Nothing when the crop is empty.
SliceCut CutSlices(const d3dx::Matrix& view, float halfExtentX, float halfExtentY, float halfExtentZ,
                   const CropBox& crop, VolumeVertex* vertices, uint32_t* indices);
