// Slices: opaque planes of the volume's samples, one per axis, each through
// one voxel layer and shown inside the crop. The sample axes run towards the
// patient's left (x), head (y) and back (z), so the x plane is sagittal, the
// y plane axial and the z plane coronal. Plain data; the passes draw them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/d3dx/d3dx_math.h"

struct SlicePlanes {
    bool shown[3] = {false, false, false};
    // The voxel layer each plane lies on, from 0; kept while hidden.
    int32_t index[3] = {-1, -1, -1};
    // The plane Page Up and Page Down move: the last one shown, -1 for none.
    int32_t current = -1;
    // Slices > Show Boundaries: each shown plane outlined in its axis' colour.
    bool outlines = false;
    // The planes' grey window in 12-bit values: low is black, high white.
    // The 12 bits already hold the scan's value window (Values > ...), so
    // the whole range is where a plane starts.
    float greyLow = 0.0f, greyHigh = 4095.0f;
};

// "sagittal", "axial", "coronal".
const char* PlaneName(int axis);
// Each index inside the grid: a layer past the end on its last, one never
// placed (or on an axis of no voxels) on the middle voxel.
void ClampPlanes(SlicePlanes& planes, const uint32_t dims[3]);
// Shows or hides the plane on `axis`; one shown becomes the current.
void TogglePlane(SlicePlanes& planes, int axis, const uint32_t dims[3]);
// The current plane `delta` layers on, stopping at the grid's ends; false
// with no plane shown.
bool MovePlane(SlicePlanes& planes, int delta, const uint32_t dims[3]);
void ClearPlanes(SlicePlanes& planes);
bool AnyPlaneShown(const SlicePlanes& planes);
// The current plane's place for the status line: "axial 88 / 181, 12.0 mm"
// (the layer counted from 1; the distance of its centre from the first
// layer's centre); empty with no plane shown.
std::string PlanePlaceText(const SlicePlanes& planes, const uint32_t dims[3], const float spacing[3]);
// The texture position of the plane's layer centre along its axis.
inline float PlaneTexturePosition(int32_t index, uint32_t dim) {
    return (static_cast<float>(index) + 0.5f) / static_cast<float>(dim);
}
// A 12-bit value through the grey window [low, high]: 0 black, 1 white.
float PlaneGrey(float value12, float low, float high);
// The outline colours: x red, y green, z blue.
inline constexpr float kPlaneColours[3][4] = {
    {1.0f, 0.2f, 0.2f, 1.0f}, {0.2f, 1.0f, 0.2f, 1.0f}, {0.3f, 0.5f, 1.0f, 1.0f}};

// The view the passes draw the planes with: the view and projection as row
// vectors (the program's, not the shaders' transposes), the client area's
// size in pixels, the box's half extents and the crop as fractions per axis.
struct PlaneCamera {
    d3dx::Matrix view{}, projection{};
    float width = 0, height = 0;
    float halfExtents[3] = {0, 0, 0};
    float cropLow[3] = {0, 0, 0}, cropHigh[3] = {1, 1, 1};
};
struct PlaneHit {
    int axis = -1;
    // The voxel the hit lies in (the plane's layer on its own axis) and its
    // texture position.
    int32_t voxel[3] = {0, 0, 0};
    float position[3] = {0, 0, 0};
    float depth = 0;  // along the view
};
// The nearest shown plane (inside `dims`) that the ray through the centre of
// client pixel (x, y) meets inside the crop, between the projection's near and
// far planes, as the passes draw it; none when the ray meets no plane.
std::optional<PlaneHit> PlaneUnderCursor(const PlaneCamera& camera, const SlicePlanes& planes,
                                         const uint32_t dims[3], int32_t x, int32_t y);

// The grey window's bounds: at least one value wide, its centre (the level)
// inside the 12 bits, at most the 12 bits' whole width.
inline constexpr float kGreyMinWidth = 1.0f, kGreyMaxWidth = 4096.0f;
inline constexpr float kGreyMaxLevel = 4095.0f;
// 12-bit values per pixel of a window/level drag: the whole range in 512.
inline constexpr float kGreyPerPixel = 8.0f;
// The window a drag of (dx, dy) client pixels from `low`..`high` makes: to
// the right wider, to the left narrower; down a higher level (darker), up a
// lower one; within the bounds.
void DragGreyWindow(float low, float high, int32_t dx, int32_t dy, float* newLow, float* newHigh);
// A window kept within the bounds; one that is no window at all (not finite,
// or reversed), or one that would show a volume whose 12-bit values have
// these counts (`values` of them, from 0; none: unknown) in one grey (all of
// them at or below its low, or all at or above its high), becomes the whole
// range.
void FitGreyWindow(float* low, float* high, const uint32_t* counts = nullptr, size_t values = 0);

// tamlo-render --slices "x=N,y=N,z=N" (any of them, each once), N a layer
// from 0: the planes to show (onto `planes`, indices unchecked against a
// grid). "" when fine, else the one-line reason.
std::string ParsePlaneList(const std::string& text, SlicePlanes* planes);
// "" when every shown plane lies inside the grid, else the reason.
std::string PlanesOutsideGrid(const SlicePlanes& planes, const uint32_t dims[3]);
