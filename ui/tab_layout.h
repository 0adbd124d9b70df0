// The panel's layout as plain computation: one table of where every element
// lies and where each one takes presses, from which both the drawn geometry
// and the mouse's hit tests and cursor confinements are computed; and the
// slide. No device, no process-wide record: sizes come in as arguments.
#pragma once

#include <cstdint>
#include <vector>

#include "render/vertex_formats.h"
#include "ui/hsl.h"
#include "ui/transfer_function.h"

namespace UI {

inline constexpr uint32_t kTexVertexCount = 28;
inline constexpr uint32_t kTexIndexCount = 48;
inline constexpr float kSlideDistance = 640.0f;
inline constexpr float kHandleStripHeight = 32.0f;

// The vertices are laid out in the renderer's formats (plain structs), so the
// drawing code hands them to the device as they are.
using ::ColorVertex;
using ::TexVertex;

// Panel space: c counts pixels right from the client area's left edge, d
// counts up from the open panel's bottom edge. Drawn edges lie half a pixel
// left of and below the pixel grid (the client's left edge is c = -0.5, the
// panel's bottom edge d = -0.5), as the drawing space has always had them.
struct PanelRect {
    float left, right, bottom, top;
};

// Whole pixels that take a press, bounds inclusive: x the cursor's client
// column, d the open panel's bottom edge (CTab::OpenPanelBottomY) less the
// cursor's row.
struct PressBand {
    int32_t left, right, bottom, top;
    bool Contains(int32_t x, int32_t d) const { return left <= x && x <= right && bottom <= d && d <= top; }
};

// A cursor confinement: client columns left <= x < right and panel rows
// bottom < d <= top (the cursor clip's right and bottom edges are exclusive).
struct ClipBand {
    int32_t left, right, bottom, top;
};

// Every element of the open panel for a client area 2 halfWidth wide, with
// the handle's left edge at handleX and its middle handleWidth wide. The
// closed panel is the same drawing kSlideDistance lower.
struct PanelLayout {
    // Drawn.
    PanelRect strip;       // the handle strip, full width
    PanelRect handle;      // its two 16 px caps and the middle between them
    PanelRect background;  // the panel body, full width
    PanelRect field;       // hue/saturation field, 180 x 180
    PanelRect lightnessBar;
    float lightnessBarMiddle;     // d of the row shaded with the picked colour itself
    float markerTip, markerBase;  // c of the lightness marker's outer triangle
    PanelRect histogram;          // also the control-point graph: positions 0..1, opacities 0..1

    // Presses. Below panelTop a press falls on the open panel body; from
    // panelTop up to stripTop, on the handle strip (the closed panel's strip
    // is the stripTop - panelTop rows above the client's bottom edge).
    int32_t panelTop, stripTop;
    float handlePressLeft, handlePressRight;  // exclusive, in fractional columns
    PressBand fieldPress, barPress, graphPress;
    int32_t pointReach;  // a point takes presses this far from its pixel, both ways

    // Confinements while the left button drags.
    ClipBand fieldClip, barClip;
    ClipBand firstPointClip, lastPointClip;  // the end points move only up and down
    int32_t innerPointGap;                   // an inner point stays this far from its neighbours' columns

    // How a press maps back to values: hue = hueScale (x - hueZeroColumn);
    // saturation and lightness run from 0 at pickerZeroRow up to 1 at
    // pickerZeroRow + pickerRows; opacity 0 lies on row alphaZeroRow.
    int32_t hueZeroColumn;
    float hueScale;
    int32_t pickerZeroRow, pickerRows;
    int32_t alphaZeroRow;
};
PanelLayout LayOutPanel(float halfWidth, float handleX = 10.0f, float handleWidth = 80.0f);

// How far the open panel rises in a client area this tall: its full 640 px
// where the area has room for it and the handle strip above it, otherwise
// only so far that the strip stays inside the area (0 when not even that
// fits). The rest of the panel then lies below the bottom edge.
float OpenSlideDistance(float clientHeight);

// The open panel's bottom edge in client rows, where the press bands' d is
// counted from: the client's bottom edge in a tall client area, in a short one
// below it by as much as the panel rose less than its full distance.
int32_t OpenPanelBottom(int32_t clientHeight);

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
