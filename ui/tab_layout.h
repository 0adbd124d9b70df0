// The panel's geometry and slide as plain computation: where every element
// lies for a client size, in the pixel space centred on the client area
// (x right, y up, z = 1), built for the closed panel.
#pragma once

#include <cstdint>
#include <vector>

#include "render/renderer.h"
#include "ui/hsl.h"
#include "ui/transfer_function.h"

namespace UI {

inline constexpr uint32_t kTexVertexCount = 28;
inline constexpr uint32_t kTexIndexCount = 48;
inline constexpr float kSlideDistance = 640.0f;
inline constexpr float kHandleStripHeight = 32.0f;

// How far the open panel rises in a client area this tall: its full 640 px
// where the area has room for it and the handle strip above it, otherwise
// only so far that the strip stays inside the area (0 when not even that
// fits). The rest of the panel then lies below the bottom edge.
float OpenSlideDistance(float clientHeight);

// Handle strip, handle, panel background, hue/saturation field and histogram:
// 28 vertices and 48 indices. hw, hh: half the client width and height.
void BuildTexturedGeometry(float hw, float hh, float x, float width, float u0, float u1, TexVertex* vertices,
                           uint32_t* indices);

// The control-point graph's mapping: px = originX + position * scaleX,
// py = originY - alpha * scaleY (scaleY is negative).
struct GraphMapping {
    float originX, scaleX, originY, scaleY;
};
GraphMapping ComputeGraphMapping(float hw, float hh);

// Lightness bar, picker cursor, lightness marker, one marker per point and the
// lines between points: 28 + 9 n vertices; line indices first, then triangles.
struct ColorGeometry {
    std::vector<ColorVertex> vertices;
    std::vector<uint32_t> indices;
    uint32_t lineIndexCount = 0;
    uint32_t triangleIndexCount = 0;
};
ColorGeometry BuildColorGeometry(float hw, float hh, const ControlPoint* points, uint32_t pointCount,
                                 uint32_t selectedPoint, const HslColor& selectedHsl);

// One frame of the one-second slide over openDistance (OpenSlideDistance of
// the client height); an open panel follows a new distance at once. Returns
// the state before the call.
uint32_t AdvanceSlide(uint32_t* state, float* slideTime, float* slideOffset, float frameClock,
                      float openDistance = kSlideDistance);

}  // namespace UI
