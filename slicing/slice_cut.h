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
